#include "platform/linux/windows/accessibility_bus.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include "platform/linux/windows/bus_replies.h"
#include "platform/linux/windows/flatpak_proxy.h"

namespace linux_source {
namespace {

// An application with more top-level objects than this is not a browser
// showing its windows; it is not asked about each of them.
constexpr std::size_t kMostChildren = 64;
constexpr std::size_t kMostApplications = 1024;
// As much of a title as the X route reads.
constexpr std::size_t kLongestName = 65536;

constexpr const char* kLauncher = "org.a11y.Bus";
constexpr const char* kLauncherPath = "/org/a11y/bus";
constexpr const char* kRegistry = "org.a11y.atspi.Registry";
constexpr const char* kRegistryRoot = "/org/a11y/atspi/accessible/root";
constexpr const char* kAccessible = "org.a11y.atspi.Accessible";

Message propertyQuery(const char* destination, const char* path, const char* interface, const char* property) {
  Message call = methodCall(destination, path, DBUS_INTERFACE_PROPERTIES, "Get");
  if (call && !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                                        DBUS_TYPE_INVALID))
    call.reset();
  return call;
}

Message busPing() { return methodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_PEER, "Ping"); }

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

// Whether the launcher has started its bus: the bus is the launcher's child.
// A launcher asked for the address of a bus it has not started starts it.
bool launcherHasItsBus(pid_t launcher) {
  if (launcher <= 0) return false;
  const std::string path = "/proc/" + std::to_string(launcher) + "/task/" + std::to_string(launcher) + "/children";
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return false;
  const int first = std::fgetc(file);
  std::fclose(file);
  return first != EOF && first != ' ';
}

bool fairTrial(Clock::time_point deadline) {
  // A peer's silence on a batch that was left a sliver of the cycle (after a
  // slow application used up the rest) says nothing about that peer; on a
  // loaded machine the bus may not even have been scheduled in time.
  return deadline - Clock::now() >= kAnswerBound / 2;
}

}  // namespace

void AccessibilityBus::beginCycle() {
  cycleEnds_ = Clock::now() + kCycleBound;
  ++cycle_;
}

std::optional<Clock::time_point> AccessibilityBus::deadline() const {
  const Clock::time_point now = Clock::now();
  if (now >= cycleEnds_) return std::nullopt;
  return std::min(now + kAnswerBound, cycleEnds_);
}

bool AccessibilityBus::openSession(Clock::time_point deadline) {
  if (session_.isOpen()) return true;
  if (Clock::now() < sessionQuietUntil_) return false;
  const auto address = sessionBusAddress();
  if (address && session_.open(*address, deadline)) return true;
  sessionQuietUntil_ = Clock::now() + kQuietAfterFailure;
  return false;
}

Message AccessibilityBus::askLauncher(Message call, Clock::time_point deadline) {
  if (!openSession(deadline)) return nullptr;
  std::vector<Message> calls;
  calls.push_back(std::move(call));
  Replies replies = session_.callAll(std::move(calls), deadline);
  if (!replies.complete) {
    // The bus or its launcher is hung: whatever it says later is no answer to this.
    session_.close();
    sessionQuietUntil_ = Clock::now() + kQuietAfterFailure;
  }
  return std::move(replies.replies[0]);
}

bool AccessibilityBus::switchedOn() {
  if (askedIn_ == cycle_) return switchedOn_;
  const auto until = deadline();
  if (!until) return switchedOn_;
  switchedOn_ =
      booleanIn(askLauncher(propertyQuery(kLauncher, kLauncherPath, "org.a11y.Status", "IsEnabled"), *until).get())
          .value_or(false);
  askedIn_ = cycle_;
  return switchedOn_;
}

bool AccessibilityBus::readable() { return switchedOn() && Clock::now() >= accessibilityQuietUntil_; }

void AccessibilityBus::accessibilityFailed() {
  accessibility_.close();
  applications_.reset();
  pidOfName_.clear();
  accessibilityQuietUntil_ = Clock::now() + kQuietAfterFailure;
}

std::optional<std::string> AccessibilityBus::accessibilityAddress(Clock::time_point deadline) {
  const char* given = std::getenv("AT_SPI_BUS_ADDRESS");
  if (given != nullptr && *given != '\0') return std::string(given);
  // The launcher is asked for the address only once its bus runs: until an
  // application asks for it, no application is on it either.
  Message call = methodCall(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID");
  const char* launcher = kLauncher;
  if (!call || !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &launcher, DBUS_TYPE_INVALID)) return std::nullopt;
  const auto pid = numberIn(askLauncher(std::move(call), deadline).get());
  if (!pid) return std::nullopt;
  if (!launcherHasItsBus(static_cast<pid_t>(*pid))) return std::string();
  return textIn(askLauncher(methodCall(kLauncher, kLauncherPath, kLauncher, "GetAddress"), deadline).get());
}

AccessibilityBus::Opened AccessibilityBus::openAccessibility(Clock::time_point deadline) {
  if (accessibility_.isOpen()) return Opened::yes;
  if (Clock::now() < accessibilityQuietUntil_) return Opened::failed;
  pidOfName_.clear();
  const auto address = accessibilityAddress(deadline);
  if (address && address->empty()) return Opened::notStarted;
  if (address && accessibility_.open(*address, deadline)) return Opened::yes;
  accessibilityFailed();
  return Opened::failed;
}

std::optional<Replies> AccessibilityBus::askAlongsideBus(std::vector<Message> calls, Clock::time_point deadline) {
  const bool fair = fairTrial(deadline);
  calls.push_back(busPing());
  Replies replies = accessibility_.callAll(std::move(calls), deadline);
  if (!replies.replies.back()) {
    if (fair || !accessibility_.isOpen()) accessibilityFailed();
    return std::nullopt;
  }
  replies.replies.pop_back();
  return replies;
}

std::optional<std::vector<AccessibleApplication>> AccessibilityBus::applications() {
  if (listedIn_ == cycle_) return applications_;
  listedIn_ = cycle_;
  applications_.reset();
  const auto until = deadline();
  if (!until) return std::nullopt;
  const Clock::time_point deadline = *until;
  switch (openAccessibility(deadline)) {
    case Opened::yes: break;
    case Opened::notStarted: applications_.emplace(); return applications_;
    case Opened::failed: return std::nullopt;
  }

  std::vector<Message> listing;
  listing.push_back(methodCall(kRegistry, kRegistryRoot, kAccessible, "GetChildren"));
  const bool fair = fairTrial(deadline);
  auto listed = askAlongsideBus(std::move(listing), deadline);
  if (!listed) return std::nullopt;
  const auto roots = referencesIn(listed->replies[0].get(), kMostApplications);
  if (!roots) {
    // Without its registry the bus lists nothing, and titles cannot be read.
    if (fair || listed->complete) accessibilityQuietUntil_ = Clock::now() + kQuietAfterFailure;
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
      if (const auto pid = numberIn(answered->replies[i].get()))
        pidOfName_[unknown[i]] = applicationBehindProxy("/", static_cast<pid_t>(*pid));
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
  // Every question to the application shares one deadline: one that answers
  // each slowly uses up its share as surely as one that never answers.
  const auto until = deadline();
  if (!until) return std::nullopt;
  const Clock::time_point deadline = *until;
  if (openAccessibility(deadline) != Opened::yes) return std::nullopt;
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
  const auto references = referencesIn(listed->replies[0].get(), kMostChildren);
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
    const auto role = numberIn(answered->replies[2 * k].get());
    if (!role) continue;  // gone since it was listed
    auto name = textIn(answered->replies[2 * k + 1].get());
    if (name) name = cutAtCharacter(std::move(*name), kLongestName);
    children.push_back(AccessibleChild{*role, std::move(name)});
  }
  return children;
}

}  // namespace linux_source
