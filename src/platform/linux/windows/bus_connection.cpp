#include "platform/linux/windows/bus_connection.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <map>

#include "platform/linux/sigpipe_guard.h"

namespace linux_source {
namespace {

// A peer may answer with anything; a reply this large is no list of windows.
// libdbus drops the connection on a bigger message instead of holding it.
constexpr long kLargestMessage = 4L << 20;

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

}  // namespace

std::string addressWithoutLaunchers(const std::string& address) {
  std::string kept;
  std::size_t start = 0;
  while (start <= address.size()) {
    const std::size_t end = std::min(address.find(';', start), address.size());
    const std::string entry = address.substr(start, end - start);
    if (!entry.empty() && entry.rfind("autolaunch:", 0) != 0) kept += (kept.empty() ? "" : ";") + entry;
    start = end + 1;
  }
  return kept;
}

void MessageRelease::operator()(DBusMessage* message) const {
  if (message != nullptr) dbus_message_unref(message);
}

Message methodCall(const char* destination, const char* path, const char* interface, const char* method) {
  Message call(dbus_message_new_method_call(destination, path, interface, method));
  if (call) dbus_message_set_auto_start(call.get(), FALSE);
  return call;
}

BusConnection::~BusConnection() { close(); }

bool BusConnection::isOpen() const { return connection_ != nullptr && dbus_connection_get_is_connected(connection_); }

void BusConnection::close() {
  if (connection_ == nullptr) return;
  dbus_connection_close(connection_);
  dbus_connection_unref(connection_);
  connection_ = nullptr;
}

bool BusConnection::open(const std::string& address, Clock::time_point deadline) {
  close();
  SigpipeGuard guard;
  DBusError error;
  dbus_error_init(&error);
  // Private: libdbus's shared connections would outlive this object and,
  // for the session bus, end the process when the bus goes away.
  const std::string found = addressWithoutLaunchers(address);
  if (found.empty()) return false;
  connection_ = dbus_connection_open_private(found.c_str(), &error);
  dbus_error_free(&error);
  if (connection_ == nullptr) return false;
  dbus_connection_set_exit_on_disconnect(connection_, FALSE);
  dbus_connection_set_max_message_size(connection_, kLargestMessage);
  dbus_connection_set_max_received_size(connection_, kLargestMessage);
  // The handshake and Hello run under the same deadline as any question:
  // a bus that accepts the connection and then says nothing is found out here.
  std::vector<Message> hello;
  hello.push_back(methodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"));
  Replies replies = callAll(std::move(hello), deadline);
  const char* name = nullptr;
  if (!replies.complete || !replies.replies[0] ||
      !dbus_message_get_args(replies.replies[0].get(), nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
    close();
    return false;
  }
  dbus_bus_set_unique_name(connection_, name);
  return true;
}

Replies BusConnection::callAll(std::vector<Message> calls, Clock::time_point deadline) {
  Replies result;
  result.replies.resize(calls.size());
  if (!isOpen()) {
    result.complete = false;
    return result;
  }
  SigpipeGuard guard;
  std::map<dbus_uint32_t, std::size_t> awaited;  // serial -> place in the batch
  for (std::size_t i = 0; i < calls.size(); ++i) {
    dbus_uint32_t serial = 0;
    if (!calls[i] || !dbus_connection_send(connection_, calls[i].get(), &serial)) {
      result.complete = false;
      continue;
    }
    awaited.emplace(serial, i);
  }
  for (;;) {
    // Everything that has arrived: answers to this batch, late answers to
    // earlier ones, and the bus's own signals, of which only the first count.
    while (DBusMessage* incoming = dbus_connection_pop_message(connection_)) {
      Message message(incoming);
      const int type = dbus_message_get_type(incoming);
      if (type != DBUS_MESSAGE_TYPE_METHOD_RETURN && type != DBUS_MESSAGE_TYPE_ERROR) continue;
      const auto found = awaited.find(dbus_message_get_reply_serial(incoming));
      if (found == awaited.end()) continue;
      if (type == DBUS_MESSAGE_TYPE_METHOD_RETURN) result.replies[found->second] = std::move(message);
      awaited.erase(found);
    }
    if (awaited.empty()) return result;
    if (!dbus_connection_get_is_connected(connection_)) break;
    const int left = millisecondsUntil(deadline);
    if (left <= 0) break;
    if (!dbus_connection_read_write(connection_, left)) break;
  }
  result.complete = false;
  if (!dbus_connection_get_is_connected(connection_)) close();
  return result;
}

}  // namespace linux_source
