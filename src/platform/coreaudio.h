// The CoreAudio hardware abstraction layer, as the probes call it.
#pragma once

#include "platform/sdk_choice.h"

#ifdef QUORBEL_APPLE_SDK
#include <CoreAudio/CoreAudio.h>
#else
#include "platform/model/coreaudio_names.h"
#endif
