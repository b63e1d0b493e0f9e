// Whether any audio device with input channels is running, for any process.
#pragma once

#include "platform/coreaudio.h"

bool anyInputRunning();

// Whether the device's input stream configuration carries at least one channel.
bool deviceHasInput(AudioObjectID device);
