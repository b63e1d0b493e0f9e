// The capturing process of each stream, as a pid on the host.
#pragma once

#include <string>

#include "platform/linux/sound/sound_server_state.h"

namespace linux_source {

// Sets each stream's pid: the stream's own application.process.id, else its
// client's, else PipeWire's security pid of the client (which, for a client
// of the pulse protocol, is the pulse server's own, hence last). The first
// two are what the process calls itself and may be a sandbox's pid: they are
// turned into the host's with the binary and application IDs beside them.
// The security pid the server took from the socket is the host's already.
// Reads go below root. A stream that the earlier listing had already
// (the server never gives its index to another stream while it runs)
// keeps the pid it had, so only new streams cost any reading.
void resolveStreamPids(SoundServerState& state, const std::string& root, const SoundServerState* earlier = nullptr);

}  // namespace linux_source
