// The operating system's version test for the process-object selectors.
//
// On Apple the gate has to be the compiler's own availability check, written at
// the call site, so that clang knows the guarded code may use 14.2 selectors.
#pragma once

#include "platform/sdk_choice.h"

#ifdef QUORBEL_APPLE_SDK
#define AVAILABLE_MACOS_14_2 __builtin_available(macOS 14.2, *)
#else
#include "platform/model/version_names.h"
#define AVAILABLE_MACOS_14_2 ::model::operatingSystemAtLeast(14, 2, 0)
#endif
