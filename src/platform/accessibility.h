// The Accessibility interface: trust, application elements, attribute values.
#pragma once

#if defined(__APPLE__)
#include <ApplicationServices/ApplicationServices.h>
#else
#include "platform/model/accessibility_names.h"
#endif
