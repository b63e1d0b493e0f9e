// Where the microphone's sound goes inside the sound server. The server
// itself records a microphone to feed a filter's source (an echo canceller,
// a remapped or filtered source) or to play it into an output (a loopback);
// such streams are no application's, and the microphone is in use only while
// an application records it, directly or through them.
#pragma once

#include <vector>

#include "platform/linux/sound/sound_server_state.h"

namespace linux_source {

// A stream the server opened for one of its filters: it has no client, or it
// belongs to a PipeWire filter's link group (a filter-chain run by a process
// of its own is a client).
bool isFilterStream(const CaptureStream& stream);

struct CaptureRoutes {
  // By position in the listing's sources: whether the source carries a
  // microphone's sound, and whether an application records that sound from it.
  std::vector<bool> carriesMicrophone;
  std::vector<bool> recordedByApplication;
};

// A source carries a microphone's sound when it is a microphone (a source
// that is neither an output's monitor nor made by a filter), a filter's
// source whose filter records one that carries it, or the monitor of an
// output into which a loopback plays one that carries it. A filter with an
// output of its own (an echo canceller) plays that output's sound, not what
// it records, so its playback carries nothing.
CaptureRoutes captureRoutes(const SoundServerState& state);

// Whether an application's stream records a microphone's sound: not corked,
// linked to a source that carries it, and not a level meter.
bool recordsInput(const CaptureStream& stream, const SoundServerState& state, const CaptureRoutes& routes);

}  // namespace linux_source
