#include "platform/linux/windows/bus_address.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace linux_source {
namespace {

std::string valueOf(DBusAddressEntry* entry, const char* key) {
  const char* value = dbus_address_entry_get_value(entry, key);
  return value != nullptr ? value : "";
}

int connectedSocket(int family, const sockaddr* address, socklen_t length, Clock::time_point deadline) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, address, length) == 0) return fd;
  if (errno == EINPROGRESS) {
    pollfd waiting{fd, POLLOUT, 0};
    int problem = 0;
    socklen_t size = sizeof problem;
    if (::poll(&waiting, 1, millisecondsUntil(deadline)) == 1 &&
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &problem, &size) == 0 && problem == 0)
      return fd;
  }
  ::close(fd);  // EAGAIN: a unix listener whose backlog is full
  return -1;
}

int connectUnix(const BusEndpoint& endpoint, Clock::time_point deadline) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const bool abstract = endpoint.kind == BusEndpoint::Kind::unixAbstract;
  const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a nul byte
  if (endpoint.where.empty() || endpoint.where.size() + offset >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path + offset, endpoint.where.data(), endpoint.where.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + endpoint.where.size() +
                                             (abstract ? 0 : 1));
  return connectedSocket(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length, deadline);
}

int connectTcp(const BusEndpoint& endpoint, Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  const std::vector<std::string> hosts =
      endpoint.where == "localhost" ? std::vector<std::string>{"127.0.0.1", "::1"} : std::vector<std::string>{endpoint.where};
  for (const std::string& host : hosts) {
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), endpoint.port.c_str(), &hints, &found) != 0) continue;
    int fd = -1;
    for (addrinfo* at = found; at != nullptr && fd < 0 && Clock::now() < deadline; at = at->ai_next)
      fd = connectedSocket(at->ai_family, at->ai_addr, at->ai_addrlen, deadline);
    ::freeaddrinfo(found);
    if (fd >= 0) return fd;
  }
  return -1;
}

}  // namespace

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

std::vector<BusEndpoint> busEndpoints(const std::string& address) {
  std::vector<BusEndpoint> endpoints;
  DBusAddressEntry** entries = nullptr;
  int count = 0;
  if (!dbus_parse_address(address.c_str(), &entries, &count, nullptr)) return endpoints;
  for (int i = 0; i < count; ++i) {
    const std::string method = dbus_address_entry_get_method(entries[i]);
    if (method == "unix") {
      // dir=, tmpdir= and runtime= name where a server would listen, not a bus to join.
      const std::string path = valueOf(entries[i], "path");
      const std::string abstract = valueOf(entries[i], "abstract");
      if (!path.empty() && abstract.empty()) endpoints.push_back({BusEndpoint::Kind::unixPath, path, {}});
      else if (path.empty() && !abstract.empty()) endpoints.push_back({BusEndpoint::Kind::unixAbstract, abstract, {}});
    } else if (method == "tcp") {
      std::string host = valueOf(entries[i], "host");
      const std::string port = valueOf(entries[i], "port");
      if (host.empty()) host = "localhost";
      addrinfo hints{};
      hints.ai_flags = AI_NUMERICHOST;
      addrinfo* found = nullptr;
      const bool numeric = ::getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0;
      if (found != nullptr) ::freeaddrinfo(found);
      if (!port.empty() && port != "0" && (numeric || host == "localhost"))
        endpoints.push_back({BusEndpoint::Kind::tcp, host, port});
    }
  }
  dbus_address_entries_free(entries);
  return endpoints;
}

int connectWithin(const BusEndpoint& endpoint, Clock::time_point deadline) {
  return endpoint.kind == BusEndpoint::Kind::tcp ? connectTcp(endpoint, deadline) : connectUnix(endpoint, deadline);
}

}  // namespace linux_source
