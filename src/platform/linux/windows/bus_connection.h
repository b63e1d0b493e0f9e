// One connection to a D-Bus message bus (the session bus, the accessibility
// bus), spoken over a socket of its own. libdbus only reads and writes the
// messages: its connections connect with a blocking connect() and wait for a
// bus up to 25 s, where here nothing waits past the deadline the caller gives.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/server_bounds.h"

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

class BusConnection {
 public:
  BusConnection() = default;
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  // Connects to the first endpoint of address that answers and registers with
  // the bus (Hello). False when none does by the deadline.
  bool open(const std::string& address, Clock::time_point deadline);
  bool isOpen() const;
  void close();

  // Sends every call, then waits for all the answers until the deadline. A
  // call to a name without an owner is answered by nothing, as an error is.
  // An answer counts only when it comes from the peer the call went to: the
  // bus itself for its own questions, else the connection that owned the
  // destination's name when the call was sent (the bus is asked who that is).
  // Anyone else's answer, and answers that come after the deadline, are
  // dropped. A connection that breaks is closed.
  Replies callAll(std::vector<Message> calls, Clock::time_point deadline);

 private:
  bool sendAll(const std::string& bytes, Clock::time_point deadline);
  // Reads what has arrived, waiting for it until the deadline. False when
  // nothing came by then or the connection broke (it is then closed).
  bool receive(Clock::time_point deadline);
  // The next whole message received; null when none is complete yet.
  Message nextMessage();
  bool authenticate(Clock::time_point deadline);
  std::string line(Clock::time_point deadline);
  // The unique names that own the calls' well-known destinations, asked of
  // the bus for those not known yet. False when the bus did not answer by
  // the deadline. A name found without an owner twice running is watched:
  // the bus tells of its next owner, and until it does the name is not asked
  // about again (a session without the accessibility launcher would
  // otherwise cost a round trip every cycle).
  bool learnOwners(const std::vector<Message>& calls, Clock::time_point deadline);
  // Takes in, without waiting, what the bus has sent since the last exchange,
  // and forgets that a watched name has no owner once the bus says it changed
  // hands (or the connection broke).
  void takeOwnerChanges();
  Replies exchange(std::vector<Message> calls, Clock::time_point deadline);

  int fd_ = -1;
  std::string received_;
  std::uint32_t serial_ = 0;
  std::map<std::string, std::string> owners_;  // well-known name -> unique name
  std::set<std::string> unowned_;  // well-known names without an owner when last asked
  std::set<std::string> watched_;  // names whose changes of owner the bus tells this connection of
};

}  // namespace linux_source
