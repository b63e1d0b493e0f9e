// The source for tests: the scene is what the test wrote, and nothing else
// changes it.
#include "platform/model/source.h"

#include <thread>

namespace model {

Source& activeSource() {
  struct Scripted final : Source {
    void refresh(Scene&, Moment, pid_t) override {}
    // Only the test's own listener calls tell of changes.
    bool waitForChange(std::chrono::steady_clock::time_point until) override {
      std::this_thread::sleep_until(until);
      return false;
    }
  };
  static Scripted scripted;
  return scripted;
}

}  // namespace model
