// The operating system's version test for the process-object selectors.
//
// On Apple the gate is __builtin_available, written at the call site: the
// running system is asked for its version before any process-object query,
// and below 14.2 none is made. The 14.2 SDK gives those selectors no
// availability marking, so the compiler cannot tell a use outside the gate;
// the unit tests over the model check that nothing is asked below 14.2.
#pragma once

#include "platform/sdk_choice.h"

#ifdef QUORBEL_APPLE_SDK
#define AVAILABLE_MACOS_14_2 __builtin_available(macOS 14.2, *)
#else
#include "platform/model/version_names.h"
#define AVAILABLE_MACOS_14_2 ::model::operatingSystemAtLeast(14, 2, 0)
#endif
