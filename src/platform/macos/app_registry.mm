// The running-application registry (AppKit), as the C++ functions the probes
// call. Objective-C stays in this file.
//
// Each call runs in an autorelease pool of its own, so a monitor that runs
// for weeks does not grow; a RunningApplication holds one retain on its
// object and gives it back when the probe is done with it. The file is
// correct with ARC and without it (GNUstep's runtime has none).
#import <AppKit/AppKit.h>
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

// The workspace and the applications' changing properties are brought up to
// date only when the main run loop turns, and the poll loop only sleeps: one
// turn, without waiting, before every question, so each cycle sees the
// present list and not the one of its first cycle.
void catchUpWithTheWorkspace() {
  [[NSRunLoop mainRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate distantPast]];
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
