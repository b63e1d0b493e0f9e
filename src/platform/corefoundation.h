// CoreFoundation: reference release, type tests, arrays and strings.
#pragma once

#if defined(__APPLE__)
#include <CoreFoundation/CoreFoundation.h>
#else
#include "platform/model/corefoundation_names.h"
#endif
