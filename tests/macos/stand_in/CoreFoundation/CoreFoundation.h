// The run-loop names of CoreFoundation that the registry adapter uses, for the
// GNUstep check only: Debian's GNUstep has no CoreFoundation (its corebase
// library is not packaged), and a Mac build never sees this folder. Written
// from what the adapter expects of them, with the shapes and result values
// the platform documents; run_loop.cpp answers them from a script.
#pragma once

#include <cstdint>

using Boolean = unsigned char;
using CFTimeInterval = double;

struct StandInCFString;
using CFStringRef = const StandInCFString*;

enum CFRunLoopRunResult : std::int32_t {
  kCFRunLoopRunFinished = 1,
  kCFRunLoopRunStopped = 2,
  kCFRunLoopRunTimedOut = 3,
  kCFRunLoopRunHandledSource = 4,
};

extern "C" {
extern const CFStringRef kCFRunLoopDefaultMode;
CFRunLoopRunResult CFRunLoopRunInMode(CFStringRef mode, CFTimeInterval seconds, Boolean returnAfterSourceHandled);
}
