// The Accessibility names the probes use, declared with the platform's shapes
// and answered by the platform model.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "platform/model/corefoundation_names.h"

struct ModelAXUIElement;
using AXUIElementRef = const ModelAXUIElement*;

enum AXError : std::int32_t {
  kAXErrorSuccess = 0,
  kAXErrorFailure = -25200,
  kAXErrorAttributeUnsupported = -25205,
  kAXErrorNoValue = -25212,
  kAXErrorCannotComplete = -25204,
};

// Constant strings, like the SDK's CFSTR literals: never released.
extern const CFStringRef kAXWindowsAttribute;
extern const CFStringRef kAXTitleAttribute;

Boolean AXIsProcessTrusted();
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef* value);
