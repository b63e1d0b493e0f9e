#include "cycle/change_stream.h"

#include <algorithm>

#include "audio/change_listeners.h"
#include "cycle/poll_cycle.h"
#include "platform/autorelease_pool.h"
#include "platform/change_wait.h"
#include "platform/thread_sleep.h"

void runChangeStream(StreamWorld& world) {
  std::string lastWritten;
  bool timer = true;
  StreamClock::time_point nextTimer{};
  for (;;) {
    const StreamClock::time_point started = world.now();
    const std::string line = world.cycle();
    // A reader may count on the timer lines, so they come even when they repeat.
    const bool writes = timer || line != lastWritten;
    if (writes) {
      if (!world.write(line)) return;
      lastWritten = line;
    }
    if (timer) nextTimer = world.now() + kTimerPeriod;
    const bool changed = world.waitForChange(nextTimer);
    // A burst of notices waits here; the cycle after the gap sees all of them.
    // A change often comes as a few notices in a row (a stream is made, then
    // linked), so a cycle that found nothing new leaves the next one closer.
    world.sleepUntil(started + (writes ? StreamClock::duration(kLeastLineGap) : StreamClock::duration(kLeastCycleGap)));
    timer = !changed || world.now() >= nextTimer;
  }
}

namespace {

double secondsUntil(StreamClock::time_point until) {
  return std::max(0.0, std::chrono::duration<double>(until - StreamClock::now()).count());
}

class PlatformWorld final : public StreamWorld {
 public:
  explicit PlatformWorld(std::FILE* out) : out_(out) {}

  StreamClock::time_point now() override { return StreamClock::now(); }
  bool waitForChange(StreamClock::time_point until) override { return ::waitForChange(secondsUntil(until)); }
  void sleepUntil(StreamClock::time_point until) override {
    const double seconds = secondsUntil(until);
    if (seconds > 0) sleepForTimeInterval(seconds);
  }
  std::string cycle() override {
    std::string line;
    // Listeners first, so that whatever the cycle reads is already listened to.
    insideAutoreleasePool([&] {
      listeners_.follow();
      line = snapshotOfNow();
    });
    line += '\n';
    return line;
  }
  // Write errors are not looked at, as without --on-change.
  bool write(const std::string& line) override {
    std::fwrite(line.data(), 1, line.size(), out_);
    return true;
  }

 private:
  std::FILE* out_;
  ChangeListeners listeners_;
};

}  // namespace

void streamOnChange(std::FILE* out) {
  PlatformWorld world(out);
  runChangeStream(world);
}
