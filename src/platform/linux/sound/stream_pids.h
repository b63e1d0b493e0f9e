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
// Reads go below root.
void resolveStreamPids(SoundServerState& state, const std::string& root);

}  // namespace linux_source
