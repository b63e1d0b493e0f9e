// The model's wait: a listener that fired, or whatever the source learns from
// the system it reads.
#include "platform/change_wait.h"

#include <atomic>
#include <chrono>

#include "platform/model/objects.h"
#include "platform/model/source.h"

namespace {

std::atomic<bool>& woken() {
  static std::atomic<bool> flag{false};
  return flag;
}

}  // namespace

namespace model {
void forgetWake() { woken().store(false); }
}  // namespace model

void wakeForChange() { woken().store(true); }

bool waitForChange(double seconds) {
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  if (woken().exchange(false)) return true;
  const bool changed = model::activeSource().waitForChange(until);
  return woken().exchange(false) || changed;
}
