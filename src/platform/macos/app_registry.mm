// The running-application registry (AppKit), as the C++ functions the probes
// call. Objective-C stays in this file.
//
// Each call runs in an autorelease pool of its own, so a monitor that runs
// for weeks does not grow; a RunningApplication holds one retain on its
// object and gives it back when the probe is done with it. The file is
// correct with ARC and without it (GNUstep's runtime has none).
#import <AppKit/AppKit.h>
#import <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>

#include "platform/app_registry.h"

#if __has_feature(objc_arc)
#define QB_RETAINED(object) ((__bridge_retained const void*)(object))
#define QB_BORROWED(ref) ((__bridge NSRunningApplication*)(ref))
#define QB_RELEASE(ref) ((void)(__bridge_transfer id)(ref))
#else
#define QB_RETAINED(object) ((const void*)[(object) retain])
#define QB_BORROWED(ref) ((NSRunningApplication*)(ref))
#define QB_RELEASE(ref) [(id)(ref) release]
#endif

namespace {

std::string textOf(NSString* text) {
  if (text == nil) return {};
  const char* utf8 = [text UTF8String];
  return utf8 == nullptr ? std::string() : std::string(utf8);
}

// Each application that starts or quits leaves a handful of notices (an
// estimate, not a count taken on a Mac): room for a dozen of them between two
// cycles, so the usual backlog goes in one catch-up.
constexpr int kMostTurnsPerCatchUp = 64;

// The workspace and the applications' changing properties are brought up to
// date only when the main run loop handles the notices waiting on it, and the
// poll loop only sleeps. So before every question the loop is turned, without
// waiting, until a turn handles no source: one turn handles one notice, and
// after several launches or quits a single turn would leave the list behind
// by cycles. The poll loop runs on the main thread, whose run loop is the one
// CFRunLoopRunInMode turns.
//
// Bounded by turns: a steady stream of notices holds a question up for
// kMostTurnsPerCatchUp notices at most, and what is left keeps waiting for
// the next question or cycle: the list lags, nothing is lost. A bound in time
// would add nothing against a handler that hangs, and would cut the drain
// short just when a loaded machine runs it slowly.
void catchUpWithTheWorkspace() {
  for (int turn = 0; turn < kMostTurnsPerCatchUp; ++turn) {
    if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.0, true) != kCFRunLoopRunHandledSource) return;
  }
}

}  // namespace

RunningApplication::~RunningApplication() {
  if (ref_ != nullptr) {
    @autoreleasepool {
      QB_RELEASE(ref_);
    }
  }
}

std::string RunningApplication::bundleIdentifier() const {
  @autoreleasepool {
    return textOf([QB_BORROWED(ref_) bundleIdentifier]);
  }
}

std::string RunningApplication::localizedName() const {
  @autoreleasepool {
    return textOf([QB_BORROWED(ref_) localizedName]);
  }
}

pid_t RunningApplication::processIdentifier() const {
  @autoreleasepool {
    return [QB_BORROWED(ref_) processIdentifier];
  }
}

std::optional<RunningApplication> runningApplicationWithProcessIdentifier(pid_t pid) {
  @autoreleasepool {
    catchUpWithTheWorkspace();
    NSRunningApplication* application = [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
    if (application == nil) return std::nullopt;
    return RunningApplication(QB_RETAINED(application));
  }
}

std::vector<RunningApplication> runningApplications() {
  @autoreleasepool {
    catchUpWithTheWorkspace();
    std::vector<RunningApplication> applications;
    NSArray* running = [[NSWorkspace sharedWorkspace] runningApplications];
    applications.reserve([running count]);
    for (NSRunningApplication* application in running) applications.emplace_back(QB_RETAINED(application));
    return applications;
  }
}
