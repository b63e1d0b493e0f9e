// Calls the Objective-C++ adapter, built against GNUstep here, and checks that
// it answers, that its handles outlive the cycle's pool, and that before each
// question it handles what waits on the run loop (scripted by the stand-in):
// all of it, but never without end.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <optional>
#include <utility>
#include <vector>

#include "platform/app_registry.h"
#include "platform/autorelease_pool.h"
#include "platform/change_wait.h"
#include "platform/thread_sleep.h"
#include "run_loop_script.h"

namespace {

int failures = 0;

void check(bool ok, const char* question, const char* what) {
  if (ok) return;
  std::printf("%s: %s\n", question, what);
  ++failures;
}

struct Question {
  const char* name;
  std::function<void()> ask;
};

void checkCatchUp(const Question& question) {
  run_loop_script::setWaitingNotices(0);
  question.ask();
  check(run_loop_script::turns() == 1, question.name, "with nothing waiting, one turn");

  run_loop_script::setWaitingNotices(5);
  question.ask();
  check(run_loop_script::waitingNotices() == 0, question.name, "every waiting notice is handled");
  check(run_loop_script::turns() == 6, question.name, "turns until one handles nothing, then no more");

  const long burst = 100000;
  run_loop_script::setWaitingNotices(burst);
  question.ask();
  const long left = run_loop_script::waitingNotices();
  check(left > 0, question.name, "a burst is not drained without end");
  check(run_loop_script::turns() == burst - left, question.name, "every turn of a burst handles a notice");
  run_loop_script::setWaitingNotices(left);
  question.ask();
  check(run_loop_script::waitingNotices() < left, question.name, "the next question goes on with the rest");

  run_loop_script::setWaitingNotices(run_loop_script::kEndless);
  question.ask();  // returns: a steady stream does not hold the question up
  check(run_loop_script::turns() > 1, question.name, "a steady stream is handled for a while");
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The wait as the --on-change loop uses it: woken from another thread (as
// CoreAudio calls its listeners), by a wake that came before it, or by none.
void checkChangeWait() {
  auto start = std::chrono::steady_clock::now();
  check(!waitForChange(0.05), "waitForChange", "nothing told: the time runs out");
  check(secondsSince(start) >= 0.045, "waitForChange", "nothing told: waits its time");

  wakeForChange();
  wakeForChange();
  check(waitForChange(1.0), "waitForChange", "a wake before the wait counts");
  start = std::chrono::steady_clock::now();
  check(!waitForChange(0.05), "waitForChange", "two wakes before one wait count once");

  start = std::chrono::steady_clock::now();
  std::thread listener([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    wakeForChange();
  });
  const bool woken = waitForChange(5.0);
  listener.join();
  check(woken, "waitForChange", "a wake from another thread ends the wait");
  check(secondsSince(start) < 2.0, "waitForChange", "and ends it at once");
}

}  // namespace

int main() {
  // Each failure shows even when the run is cut short by the check's timeout.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<RunningApplication> running;
  std::optional<RunningApplication> self;
  bool noneFound = false;
  // Asked as a cycle asks, inside a pool of its own; the handles are read
  // after that pool is gone.
  int cycles = 0;
  insideAutoreleasePool([&] {
    ++cycles;
    running = runningApplications();
    if (auto found = runningApplicationWithProcessIdentifier(getpid())) self.emplace(std::move(*found));
    noneFound = runningApplicationWithProcessIdentifier(-1).has_value();
  });
  check(cycles == 1, "insideAutoreleasePool", "runs its work once");
  std::size_t named = 0;
  for (const RunningApplication& application : running) {
    if (!application.bundleIdentifier().empty() || !application.localizedName().empty()) ++named;
    check(application.processIdentifier() >= 0, "runningApplications", "no negative pid");
  }
  if (self) std::printf("this process: '%s' '%s'\n", self->bundleIdentifier().c_str(), self->localizedName().c_str());
  std::printf("running applications: %zu (%zu named); pid -1 found: %s\n", running.size(), named,
              noneFound ? "yes" : "no");

  const std::vector<Question> questions = {
      {"runningApplications", [] { (void)runningApplications(); }},
      {"runningApplicationWithProcessIdentifier", [] { (void)runningApplicationWithProcessIdentifier(getpid()); }},
  };
  for (const Question& question : questions) checkCatchUp(question);
  check(run_loop_script::turnsAskedOtherwise() == 0, "run loop",
        "every turn in the default mode, without waiting, returning after one source");

  checkChangeWait();
  sleepForTimeInterval(0.01);
  return failures == 0 ? 0 : 1;
}
