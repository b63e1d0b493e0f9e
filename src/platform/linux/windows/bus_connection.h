// One connection to a D-Bus message bus (the session bus, the accessibility
// bus), opened and registered within a deadline. libdbus's own blocking
// calls wait up to 25 s for a bus that does not answer; here nothing waits
// past the deadline the caller gives.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/server_bounds.h"

struct DBusConnection;
struct DBusMessage;

namespace linux_source {

struct MessageRelease {
  void operator()(DBusMessage* message) const;
};
using Message = std::unique_ptr<DBusMessage, MessageRelease>;

// A method call, sent without asking the bus to start its destination: the
// monitor only looks, and never starts a service of the desktop's.
Message methodCall(const char* destination, const char* path, const char* interface, const char* method);

// What came back for each call of a batch, in the order of the calls.
struct Replies {
  std::vector<Message> replies;  // null where the answer was an error or did not come
  bool complete = true;          // every call was answered (an error answer counts) by the deadline
};

// The address's entries but those that would start a bus of their own
// (autolaunch:): the monitor looks for the desktop's bus and never starts one.
// Empty when nothing is left.
std::string addressWithoutLaunchers(const std::string& address);

class BusConnection {
 public:
  BusConnection() = default;
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  // Connects to address and registers with the bus (Hello). False when the
  // bus does not answer by the deadline; the connection is then closed.
  bool open(const std::string& address, Clock::time_point deadline);
  bool isOpen() const;
  void close();

  // Sends every call, then waits for all the answers until the deadline.
  // Answers that come after it are dropped when they arrive, so they are
  // never taken for those of a later question. A connection that breaks is
  // closed.
  Replies callAll(std::vector<Message> calls, Clock::time_point deadline);

 private:
  DBusConnection* connection_ = nullptr;
};

}  // namespace linux_source
