// CoreFoundation: reference release, type tests, arrays and strings.
#pragma once

#include "platform/sdk_choice.h"

#ifdef QUORBEL_APPLE_SDK
#include <CoreFoundation/CoreFoundation.h>
#else
#include "platform/model/corefoundation_names.h"
#endif
