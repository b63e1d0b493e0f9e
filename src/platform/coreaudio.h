// The CoreAudio hardware abstraction layer, as the probes call it.
#pragma once

#if defined(__APPLE__)
#include <CoreAudio/CoreAudio.h>
#else
#include "platform/model/coreaudio_names.h"
#endif
