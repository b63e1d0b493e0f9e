// Who is at the other end of a unix socket, as the kernel tells it from
// outside: no process can say anything here about itself.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace linux_source {

using SocketInode = std::uint64_t;

// The sockets of the clients connected to the stream socket a server listens
// on at path (the inodes of their ends, sorted), from the kernel's socket
// diagnostics; nothing when the kernel does not answer in time or the
// listing fails part way.
std::optional<std::vector<SocketInode>> clientsOfSocket(const std::string& path);

// Whether the process holds one of sockets (sorted) among its open files.
bool holdsSocket(const std::string& root, pid_t pid, const std::vector<SocketInode>& sockets);

}  // namespace linux_source
