#include "platform/linux/windows/bus_connection.h"

#include <dbus/dbus.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/linux/windows/bus_address.h"

namespace linux_source {
namespace {

// A peer may answer with anything; a message this large is no list of
// windows, and the connection is dropped rather than made to hold it.
constexpr long kLargestMessage = 4L << 20;
// The authentication lines are a few dozen bytes.
constexpr std::size_t kLongestLine = 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
// Names without an owner come from what peers list, and a peer may list
// new ones every cycle: remembered and watched only so many, each watch a
// rule the bus keeps for this connection.
constexpr std::size_t kMostUnowned = 256;
constexpr std::size_t kMostWatched = 16;

bool uniqueOrBus(const char* name) {
  return name != nullptr && (name[0] == ':' || std::string(name) == DBUS_SERVICE_DBUS);
}

std::string hex(const std::string& text) {
  std::string out;
  char pair[3];
  for (const unsigned char c : text) {
    std::snprintf(pair, sizeof pair, "%02x", c);
    out += pair;
  }
  return out;
}

}  // namespace

void MessageRelease::operator()(DBusMessage* message) const {
  if (message != nullptr) dbus_message_unref(message);
}

Message methodCall(const char* destination, const char* path, const char* interface, const char* method) {
  Message call(dbus_message_new_method_call(destination, path, interface, method));
  if (call) dbus_message_set_auto_start(call.get(), FALSE);
  return call;
}

BusConnection::~BusConnection() { close(); }

bool BusConnection::isOpen() const { return fd_ >= 0; }

void BusConnection::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  received_.clear();
  owners_.clear();
  unowned_.clear();
  watched_.clear();
}

bool BusConnection::sendAll(const std::string& bytes, Clock::time_point deadline) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    pollfd waiting{fd_, POLLOUT, 0};
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ::poll(&waiting, 1, millisecondsUntil(deadline)) == 1)
      continue;
    close();
    return false;
  }
  return true;
}

bool BusConnection::receive(Clock::time_point deadline) {
  pollfd waiting{fd_, POLLIN, 0};
  const int ready = ::poll(&waiting, 1, millisecondsUntil(deadline));
  if (ready == 0) return false;
  char chunk[kReadChunk];
  const ssize_t n = ready > 0 ? ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT) : -1;
  if (n > 0) {
    received_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  close();
  return false;
}

Message BusConnection::nextMessage() {
  if (received_.size() < 16) return nullptr;
  const int needed = dbus_message_demarshal_bytes_needed(received_.data(), static_cast<int>(std::min<std::size_t>(received_.size(), 1 << 30)));
  if (needed < 0 || needed > kLargestMessage) {
    close();
    return nullptr;
  }
  if (needed == 0 || received_.size() < static_cast<std::size_t>(needed)) return nullptr;
  DBusError error;
  dbus_error_init(&error);
  Message message(dbus_message_demarshal(received_.data(), needed, &error));
  dbus_error_free(&error);
  if (!message) {
    close();
    return nullptr;
  }
  received_.erase(0, static_cast<std::size_t>(needed));
  return message;
}

std::string BusConnection::line(Clock::time_point deadline) {
  for (;;) {
    const std::size_t end = received_.find("\r\n");
    if (end != std::string::npos) {
      std::string text = received_.substr(0, end);
      received_.erase(0, end + 2);
      return text;
    }
    if (received_.size() > kLongestLine || !receive(deadline)) return {};
  }
}

bool BusConnection::authenticate(Clock::time_point deadline) {
  // The bus knows who we are from the socket; over tcp it cannot, and a bus
  // there may let anyone in.
  std::string reply;
  if (sendAll(std::string(1, '\0') + "AUTH EXTERNAL " + hex(std::to_string(::getuid())) + "\r\n", deadline))
    reply = line(deadline);
  if (isOpen() && reply.rfind("REJECTED", 0) == 0 && sendAll("AUTH ANONYMOUS\r\n", deadline)) reply = line(deadline);
  return isOpen() && reply.rfind("OK ", 0) == 0 && sendAll("BEGIN\r\n", deadline);
}

bool BusConnection::open(const std::string& address, Clock::time_point deadline) {
  close();
  for (const BusEndpoint& endpoint : busEndpoints(address)) {
    if (Clock::now() >= deadline) break;
    fd_ = connectWithin(endpoint, deadline);
    if (fd_ < 0) continue;
    // A bus that accepts the connection and then says nothing is found out here.
    std::vector<Message> hello;
    hello.push_back(methodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"));
    if (authenticate(deadline)) {
      Replies replies = exchange(std::move(hello), deadline);
      const char* name = nullptr;
      if (replies.complete && replies.replies[0] &&
          dbus_message_get_args(replies.replies[0].get(), nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
        return true;
    }
    close();
  }
  return false;
}

namespace {

Message ownerQuestion(const char* name) {
  Message question = methodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetNameOwner");
  if (question && !dbus_message_append_args(question.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID))
    question.reset();
  return question;
}

Message watchOwner(const std::string& name) {
  Message question = methodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "AddMatch");
  const std::string rule = "type='signal',sender='" DBUS_SERVICE_DBUS "',interface='" DBUS_INTERFACE_DBUS
                           "',member='NameOwnerChanged',arg0='" + name + "'";
  const char* text = rule.c_str();
  if (question && !dbus_message_append_args(question.get(), DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID))
    question.reset();
  return question;
}

// The name whose owner changed, when message is the bus's notice of it.
const char* ownerChangeOf(DBusMessage* message) {
  const char* sender = dbus_message_get_sender(message);
  if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_SIGNAL || sender == nullptr ||
      std::string(sender) != DBUS_SERVICE_DBUS ||
      !dbus_message_is_signal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged"))
    return nullptr;
  DBusMessageIter arguments;
  if (!dbus_message_iter_init(message, &arguments) || dbus_message_iter_get_arg_type(&arguments) != DBUS_TYPE_STRING)
    return nullptr;
  const char* name = nullptr;
  dbus_message_iter_get_basic(&arguments, &name);
  return name;
}

}  // namespace

void BusConnection::takeOwnerChanges() {
  // Bounded: a peer that keeps sending cannot hold the cycle here.
  for (int i = 0; i < 64 && isOpen() && receive(Clock::now()); ++i) {
  }
  while (Message message = nextMessage())
    if (const char* name = ownerChangeOf(message.get())) unowned_.erase(name);
}

bool BusConnection::learnOwners(const std::vector<Message>& calls, Clock::time_point deadline) {
  if (!watched_.empty()) takeOwnerChanges();
  if (!isOpen()) return false;
  struct Asked {
    std::string name;
    bool watch;  // the question before it asks the bus to tell of the name's owners
  };
  std::vector<Asked> asked;
  std::vector<Message> questions;
  for (const Message& call : calls) {
    const char* destination = call ? dbus_message_get_destination(call.get()) : nullptr;
    if (destination == nullptr || uniqueOrBus(destination) || owners_.count(destination) != 0) continue;
    if (std::any_of(asked.begin(), asked.end(), [&](const Asked& a) { return a.name == destination; })) continue;
    const bool unowned = unowned_.count(destination) != 0;
    // Still without an owner: the bus would have said otherwise.
    if (unowned && watched_.count(destination) != 0) continue;
    // The watch goes first, so that no change can fall between it and the answer.
    const bool watch = unowned && watched_.size() < kMostWatched;
    Message question = ownerQuestion(destination);
    Message watching = watch ? watchOwner(destination) : nullptr;
    if (!question || (watch && !watching)) continue;
    if (watch) questions.push_back(std::move(watching));
    questions.push_back(std::move(question));
    asked.push_back(Asked{destination, watch});
  }
  if (questions.empty()) return true;
  Replies replies = exchange(std::move(questions), deadline);
  if (unowned_.size() > kMostUnowned) unowned_.clear();  // the watched ones are found out again with one question
  std::size_t place = 0;
  for (const Asked& name : asked) {
    if (name.watch && replies.replies[place++]) watched_.insert(name.name);
    const Message& answer = replies.replies[place++];
    const char* owner = nullptr;
    if (answer && dbus_message_get_args(answer.get(), nullptr, DBUS_TYPE_STRING, &owner, DBUS_TYPE_INVALID) &&
        owner[0] == ':') {
      owners_[name.name] = owner;
      unowned_.erase(name.name);
    } else if (replies.complete) {
      // An error answer: no one owns the name.
      unowned_.insert(name.name);
    }
  }
  return replies.complete;
}

Replies BusConnection::callAll(std::vector<Message> calls, Clock::time_point deadline) {
  // A name that has no owner is answered (with an error) by the bus; one
  // whose owner the bus did not tell by the deadline is not answered at all.
  const bool ownersKnown = isOpen() && learnOwners(calls, deadline);
  // Each call goes to the owner by its unique name: the bus stamps every
  // message with its sender's, so only that connection can answer it.
  std::vector<std::string> named(calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const char* destination = calls[i] ? dbus_message_get_destination(calls[i].get()) : nullptr;
    if (destination == nullptr || uniqueOrBus(destination)) continue;
    named[i] = destination;
    const auto owner = owners_.find(named[i]);
    if (owner == owners_.end() || !dbus_message_set_destination(calls[i].get(), owner->second.c_str())) calls[i].reset();
  }
  Replies replies = exchange(std::move(calls), deadline);
  replies.complete = replies.complete && ownersKnown;
  // An owner that did not answer may have let go of the name: asked again next time.
  for (std::size_t i = 0; i < named.size(); ++i)
    if (!named[i].empty() && !replies.replies[i]) owners_.erase(named[i]);
  return replies;
}

Replies BusConnection::exchange(std::vector<Message> calls, Clock::time_point deadline) {
  Replies result;
  result.replies.resize(calls.size());
  struct Awaited {
    std::size_t place;
    std::string from;
  };
  std::map<dbus_uint32_t, Awaited> awaited;
  std::string bytes;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    // A call that could not be made, or that has no owner to go to, has no
    // answer; that is no peer's silence.
    const char* destination = calls[i] ? dbus_message_get_destination(calls[i].get()) : nullptr;
    if (!uniqueOrBus(destination)) continue;
    if (!isOpen()) {
      result.complete = false;
      continue;
    }
    if (++serial_ == 0) ++serial_;
    dbus_message_set_serial(calls[i].get(), serial_);
    char* marshalled = nullptr;
    int length = 0;
    if (!dbus_message_marshal(calls[i].get(), &marshalled, &length)) {
      result.complete = false;
      continue;
    }
    bytes.append(marshalled, static_cast<std::size_t>(length));
    dbus_free(marshalled);
    awaited.emplace(serial_, Awaited{i, destination});
  }
  if (!bytes.empty() && !sendAll(bytes, deadline)) awaited.clear();
  while (isOpen() && !awaited.empty()) {
    // Everything that has arrived: answers to this batch, late answers to
    // earlier ones, forgeries, and the bus's own signals, of which only the first count.
    while (Message message = nextMessage()) {
      const int type = dbus_message_get_type(message.get());
      if (const char* name = ownerChangeOf(message.get())) unowned_.erase(name);
      if (type != DBUS_MESSAGE_TYPE_METHOD_RETURN && type != DBUS_MESSAGE_TYPE_ERROR) continue;
      const auto found = awaited.find(dbus_message_get_reply_serial(message.get()));
      const char* sender = dbus_message_get_sender(message.get());
      if (found == awaited.end() || sender == nullptr || found->second.from != sender) continue;
      if (type == DBUS_MESSAGE_TYPE_METHOD_RETURN) result.replies[found->second.place] = std::move(message);
      awaited.erase(found);
    }
    if (awaited.empty() || Clock::now() >= deadline || !receive(deadline)) break;
  }
  if (!awaited.empty()) result.complete = false;
  return result;
}

}  // namespace linux_source
