// The main run loop as the GNUstep check plays it: a number of notices
// waiting, each turn handling one of them, as a turn with
// returnAfterSourceHandled does.
#include <CoreFoundation/CoreFoundation.h>

#include "run_loop_script.h"

struct StandInCFString {
  const char* text;
};

namespace {

const StandInCFString defaultMode{"kCFRunLoopDefaultMode"};

struct State {
  long waiting = 0;
  long turns = 0;
  long askedOtherwise = 0;
};

State& state() {
  static State s;
  return s;
}

}  // namespace

extern "C" {

const CFStringRef kCFRunLoopDefaultMode = &defaultMode;

CFRunLoopRunResult CFRunLoopRunInMode(CFStringRef mode, CFTimeInterval seconds, Boolean returnAfterSourceHandled) {
  State& s = state();
  ++s.turns;
  if (mode != kCFRunLoopDefaultMode || seconds != 0.0 || !returnAfterSourceHandled) ++s.askedOtherwise;
  // With nothing waiting, a turn that may not wait runs out of time.
  if (s.waiting == 0) return kCFRunLoopRunTimedOut;
  if (s.waiting != run_loop_script::kEndless) --s.waiting;
  return kCFRunLoopRunHandledSource;
}

}  // extern "C"

namespace run_loop_script {

void setWaitingNotices(long count) {
  state().waiting = count;
  state().turns = 0;
}
long waitingNotices() { return state().waiting; }
long turns() { return state().turns; }
long turnsAskedOtherwise() { return state().askedOtherwise; }

}  // namespace run_loop_script
