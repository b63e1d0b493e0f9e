// The capturing process of each stream, as a pid on the host.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/socket_peers.h"
#include "platform/linux/sound/sound_server_state.h"

namespace linux_source {

// The client ends of the connections to the server's socket at a path.
using ClientSockets = std::function<std::optional<std::vector<SocketInode>>(const std::string& path)>;

// Sets each stream's pid. The kernel's word comes first: PipeWire's security
// pid of a native client (taken from its socket; a client of the pulse
// protocol has the pulse server's own there, the same as the monitor's own
// connection has, which says nothing of the client). Otherwise the pid the
// stream, else its client, claims: turned into the host's with the binary
// and application IDs beside it (it may be a sandbox's), and kept only when
// that process, or one in its sandbox, holds a connection to the server's
// socket (clientSockets tells which; when it cannot, the claim stands).
// Reads go below root. A stream that the earlier listing had already
// (the server never gives its index to another stream while it runs)
// keeps the pid it had, so only new streams cost any reading.
void resolveStreamPids(SoundServerState& state, const std::string& root, const SoundServerState* earlier = nullptr,
                       const ClientSockets& clientSockets = clientsOfSocket);

// The stream of the earlier listing that this one is, or nothing.
const CaptureStream* sameStream(const CaptureStream& stream, const SoundServerState* earlier);

}  // namespace linux_source
