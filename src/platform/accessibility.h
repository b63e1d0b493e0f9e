// The Accessibility interface: trust, application elements, attribute values.
#pragma once

#include "platform/sdk_choice.h"

#ifdef QUORBEL_APPLE_SDK
#include <ApplicationServices/ApplicationServices.h>
#else
#include "platform/model/accessibility_names.h"
#endif
