// Where a D-Bus address leads, as far as the monitor will follow it: only to
// a socket that already listens. An address may also tell libdbus to start a
// program as its transport (unixexec:), to start a bus (autolaunch:) or to
// ask a service manager for one (launchd:); none of those is ever opened.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/server_bounds.h"

namespace linux_source {

struct BusEndpoint {
  enum class Kind { unixPath, unixAbstract, tcp };
  Kind kind = Kind::unixPath;
  std::string where;  // the socket's path or abstract name, or the tcp host
  std::string port;   // tcp only
};

// The address's entries that connect to an existing socket, in its order:
// unix:path=, unix:abstract= and tcp: with a numeric host or localhost (a
// name lookup could wait without a bound). Everything else is left out.
std::vector<BusEndpoint> busEndpoints(const std::string& address);

// A stream socket connected to the endpoint by the deadline, non-blocking;
// -1 when it is not. A listener that does not accept (its backlog full) is
// found out here rather than waited for.
int connectWithin(const BusEndpoint& endpoint, Clock::time_point deadline);

// Milliseconds from now until the deadline, 0 once it has passed.
int millisecondsUntil(Clock::time_point deadline);

}  // namespace linux_source
