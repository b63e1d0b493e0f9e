// The sound server's state as the HAL objects the audio probes ask about.
#pragma once

#include <sys/types.h>

#include <vector>

#include "platform/linux/sound/sound_server_state.h"
#include "platform/model/scene.h"

namespace linux_source {

// Process objects and devices live in ranges of their own, so that
// refreshing one list leaves the other alone.
constexpr AudioObjectID kFirstProcessObject = 0x10000000;
constexpr AudioObjectID kFirstDevice = 0x20000000;

// One process object per client process that owns a capture stream, in the
// order of its first stream, and the system object's list of them. The
// server's own streams (its filters') are no process's.
void putProcessObjects(const SoundServerState& state, model::Scene& scene);

// Every output as a device without input, every source that is not a monitor
// as a device with its channels, and each capture outside the server.
void putDevices(const SoundServerState& state, std::size_t capturesOutsideServer, model::Scene& scene);

}  // namespace linux_source
