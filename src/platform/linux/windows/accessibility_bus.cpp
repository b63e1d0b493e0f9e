#include "platform/linux/windows/accessibility_bus.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

namespace linux_source {
namespace {

constexpr auto kOneCycle = std::chrono::milliseconds(250);
// An application with more top-level objects than this is not a browser
// showing its windows; it is not asked about each of them.
constexpr std::size_t kMostChildren = 64;
constexpr std::size_t kMostApplications = 1024;

constexpr const char* kLauncher = "org.a11y.Bus";
constexpr const char* kLauncherPath = "/org/a11y/bus";
constexpr const char* kRegistry = "org.a11y.atspi.Registry";
constexpr const char* kRegistryRoot = "/org/a11y/atspi/accessible/root";
constexpr const char* kAccessible = "org.a11y.atspi.Accessible";

// libdbus aborts the process on a malformed name or path handed to it, and
// these come from other processes: each is checked first.
bool validReference(const AccessibleReference& reference) {
  return dbus_validate_bus_name(reference.busName.c_str(), nullptr) && dbus_validate_path(reference.path.c_str(), nullptr);
}

Message propertyQuery(const char* destination, const char* path, const char* interface, const char* property) {
  Message call = methodCall(destination, path, DBUS_INTERFACE_PROPERTIES, "Get");
  if (call && !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                                        DBUS_TYPE_INVALID))
    call.reset();
  return call;
}

Message busPing() { return methodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_PEER, "Ping"); }

// The first argument of a reply, looked into through a variant when there is one.
bool firstArgument(DBusMessage* reply, DBusMessageIter& at, int type) {
  if (reply == nullptr || !dbus_message_iter_init(reply, &at)) return false;
  if (dbus_message_iter_get_arg_type(&at) == DBUS_TYPE_VARIANT && type != DBUS_TYPE_VARIANT) {
    DBusMessageIter inside;
    dbus_message_iter_recurse(&at, &inside);
    at = inside;
  }
  return dbus_message_iter_get_arg_type(&at) == type;
}

std::optional<bool> booleanOf(DBusMessage* reply) {
  DBusMessageIter at;
  if (!firstArgument(reply, at, DBUS_TYPE_BOOLEAN)) return std::nullopt;
  dbus_bool_t value = FALSE;
  dbus_message_iter_get_basic(&at, &value);
  return value != FALSE;
}

std::optional<std::uint32_t> numberOf(DBusMessage* reply) {
  DBusMessageIter at;
  if (!firstArgument(reply, at, DBUS_TYPE_UINT32)) return std::nullopt;
  dbus_uint32_t value = 0;
  dbus_message_iter_get_basic(&at, &value);
  return value;
}

std::optional<std::string> textOf(DBusMessage* reply) {
  DBusMessageIter at;
  if (!firstArgument(reply, at, DBUS_TYPE_STRING)) return std::nullopt;
  const char* value = nullptr;
  dbus_message_iter_get_basic(&at, &value);
  return std::string(value);
}

// An a(so): the references GetChildren answers with.
std::optional<std::vector<AccessibleReference>> referencesOf(DBusMessage* reply, std::size_t most) {
  DBusMessageIter at;
  if (!firstArgument(reply, at, DBUS_TYPE_ARRAY)) return std::nullopt;
  std::vector<AccessibleReference> references;
  DBusMessageIter element;
  dbus_message_iter_recurse(&at, &element);
  for (; dbus_message_iter_get_arg_type(&element) == DBUS_TYPE_STRUCT && references.size() < most;
       dbus_message_iter_next(&element)) {
    DBusMessageIter field;
    dbus_message_iter_recurse(&element, &field);
    if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_STRING) continue;
    const char* name = nullptr;
    dbus_message_iter_get_basic(&field, &name);
    if (!dbus_message_iter_next(&field) || dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_OBJECT_PATH) continue;
    const char* path = nullptr;
    dbus_message_iter_get_basic(&field, &path);
    references.push_back(AccessibleReference{name, path});
  }
  return references;
}

// Where the session bus is: $DBUS_SESSION_BUS_ADDRESS, else the socket a
// systemd session keeps in the runtime directory. Never one started for us.
std::optional<std::string> sessionBusAddress() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return std::string(address);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime != '/') return std::nullopt;
  const std::string socket = std::string(runtime) + "/bus";
  struct stat info {};
  if (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return std::nullopt;
  return "unix:path=" + socket;
}

}  // namespace

bool AccessibilityBus::openSession(Clock::time_point deadline) {
  if (session_.isOpen()) return true;
  if (Clock::now() < sessionQuietUntil_) return false;
  const auto address = sessionBusAddress();
  if (address && session_.open(*address, deadline)) return true;
  sessionQuietUntil_ = Clock::now() + kQuietAfterFailure;
  return false;
}

bool AccessibilityBus::switchedOn() {
  const Clock::time_point now = Clock::now();
  if (switchedOn_ && now - askedAt_ < kOneCycle) return *switchedOn_;
  const Clock::time_point deadline = now + kAnswerBound;
  bool on = false;
  if (openSession(deadline)) {
    std::vector<Message> calls;
    calls.push_back(propertyQuery(kLauncher, kLauncherPath, "org.a11y.Status", "IsEnabled"));
    Replies replies = session_.callAll(std::move(calls), deadline);
    if (!replies.complete && session_.isOpen()) {
      // The bus or its launcher is hung: whatever it says later is no answer to this.
      session_.close();
    }
    if (!replies.complete) sessionQuietUntil_ = Clock::now() + kQuietAfterFailure;
    on = booleanOf(replies.replies[0].get()).value_or(false);
  }
  switchedOn_ = on;
  askedAt_ = Clock::now();
  return on;
}

bool AccessibilityBus::readable() { return switchedOn() && Clock::now() >= accessibilityQuietUntil_; }

void AccessibilityBus::accessibilityFailed() {
  accessibility_.close();
  applications_.reset();
  pidOfName_.clear();
  accessibilityQuietUntil_ = Clock::now() + kQuietAfterFailure;
}

bool AccessibilityBus::openAccessibility(Clock::time_point deadline) {
  if (accessibility_.isOpen()) return true;
  if (Clock::now() < accessibilityQuietUntil_) return false;
  pidOfName_.clear();
  std::optional<std::string> address;
  const char* given = std::getenv("AT_SPI_BUS_ADDRESS");
  if (given != nullptr && *given != '\0') {
    address = given;
  } else if (openSession(deadline)) {
    std::vector<Message> calls;
    calls.push_back(methodCall(kLauncher, kLauncherPath, kLauncher, "GetAddress"));
    Replies replies = session_.callAll(std::move(calls), deadline);
    if (!replies.complete) {
      session_.close();
      sessionQuietUntil_ = Clock::now() + kQuietAfterFailure;
    }
    address = textOf(replies.replies[0].get());
  }
  if (address && !address->empty() && accessibility_.open(*address, deadline)) return true;
  accessibilityFailed();
  return false;
}

std::optional<Replies> AccessibilityBus::askAlongsideBus(std::vector<Message> calls, Clock::time_point deadline) {
  calls.push_back(busPing());
  Replies replies = accessibility_.callAll(std::move(calls), deadline);
  if (!replies.replies.back()) {
    accessibilityFailed();
    return std::nullopt;
  }
  replies.replies.pop_back();
  return replies;
}

std::optional<std::vector<AccessibleApplication>> AccessibilityBus::applications() {
  const Clock::time_point now = Clock::now();
  if (applications_ && now - listedAt_ < kOneCycle) return applications_;
  applications_.reset();
  const Clock::time_point deadline = now + kAnswerBound;
  if (!openAccessibility(deadline)) return std::nullopt;

  std::vector<Message> listing;
  listing.push_back(methodCall(kRegistry, kRegistryRoot, kAccessible, "GetChildren"));
  auto listed = askAlongsideBus(std::move(listing), deadline);
  if (!listed) return std::nullopt;
  const auto roots = referencesOf(listed->replies[0].get(), kMostApplications);
  if (!roots) {
    // Without its registry the bus lists nothing, and titles cannot be read.
    accessibilityQuietUntil_ = Clock::now() + kQuietAfterFailure;
    return std::nullopt;
  }

  // A connection's pid never changes, so each is asked for once.
  std::vector<std::string> unknown;
  for (const AccessibleReference& root : *roots) {
    if (validReference(root) && pidOfName_.count(root.busName) == 0 &&
        std::find(unknown.begin(), unknown.end(), root.busName) == unknown.end())
      unknown.push_back(root.busName);
  }
  if (!unknown.empty()) {
    std::vector<Message> questions;
    for (const std::string& name : unknown) {
      Message call = methodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID");
      const char* text = name.c_str();
      if (call && !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID)) call.reset();
      questions.push_back(std::move(call));
    }
    auto answered = askAlongsideBus(std::move(questions), deadline);
    if (!answered) return std::nullopt;
    for (std::size_t i = 0; i < unknown.size(); ++i) {
      // A name that has left since the listing answers with an error: it is no application now.
      if (const auto pid = numberOf(answered->replies[i].get())) pidOfName_[unknown[i]] = static_cast<pid_t>(*pid);
    }
  }
  if (pidOfName_.size() > 4 * kMostApplications) pidOfName_.clear();  // names come and go; keep it bounded

  std::vector<AccessibleApplication> found;
  for (const AccessibleReference& root : *roots) {
    const auto pid = pidOfName_.find(root.busName);
    if (validReference(root) && pid != pidOfName_.end() && pid->second > 0)
      found.push_back(AccessibleApplication{root, pid->second});
  }
  applications_ = std::move(found);
  listedAt_ = Clock::now();
  return applications_;
}

std::optional<std::vector<AccessibleChild>> AccessibilityBus::children(const AccessibleReference& application) {
  const Clock::time_point now = Clock::now();
  if (!validReference(application)) return std::nullopt;
  const auto quiet = unanswering_.find(application.busName);
  if (quiet != unanswering_.end()) {
    if (now < quiet->second) return std::nullopt;
    unanswering_.erase(quiet);
  }
  const Clock::time_point deadline = now + kAnswerBound;
  if (!openAccessibility(deadline)) return std::nullopt;
  const auto unanswered = [&] {
    if (unanswering_.size() > kMostApplications) unanswering_.clear();
    unanswering_[application.busName] = Clock::now() + kQuietAfterFailure;
    return std::nullopt;
  };

  std::vector<Message> listing;
  listing.push_back(methodCall(application.busName.c_str(), application.path.c_str(), kAccessible, "GetChildren"));
  auto listed = askAlongsideBus(std::move(listing), deadline);
  if (!listed) return std::nullopt;
  if (!listed->complete) return unanswered();
  const auto references = referencesOf(listed->replies[0].get(), kMostChildren);
  if (!references) return std::nullopt;

  std::vector<Message> questions;
  std::vector<std::size_t> asked;
  for (std::size_t i = 0; i < references->size(); ++i) {
    const AccessibleReference& child = (*references)[i];
    if (!validReference(child)) continue;
    questions.push_back(methodCall(child.busName.c_str(), child.path.c_str(), kAccessible, "GetRole"));
    questions.push_back(propertyQuery(child.busName.c_str(), child.path.c_str(), kAccessible, "Name"));
    asked.push_back(i);
  }
  auto answered = askAlongsideBus(std::move(questions), deadline);
  if (!answered) return std::nullopt;
  if (!answered->complete) return unanswered();
  std::vector<AccessibleChild> children;
  for (std::size_t k = 0; k < asked.size(); ++k) {
    const auto role = numberOf(answered->replies[2 * k].get());
    if (!role) continue;  // gone since it was listed
    children.push_back(AccessibleChild{*role, textOf(answered->replies[2 * k + 1].get())});
  }
  return children;
}

}  // namespace linux_source
