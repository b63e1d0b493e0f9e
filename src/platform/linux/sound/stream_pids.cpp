#include "platform/linux/sound/stream_pids.h"

#include <charconv>

#include "platform/linux/identity/host_pids.h"

namespace linux_source {
namespace {

const std::string* property(const Properties& properties, const char* key) {
  auto found = properties.find(key);
  return found == properties.end() || found->second.empty() ? nullptr : &found->second;
}

std::optional<std::int32_t> pidProperty(const Properties& properties, const char* key) {
  const std::string* value = property(properties, key);
  if (value == nullptr) return std::nullopt;
  std::int32_t pid = 0;
  const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), pid);
  if (error != std::errc() || end != value->data() + value->size() || pid <= 0) return std::nullopt;
  return pid;
}

PidClues cluesFrom(const Properties& properties, const Properties& stream) {
  PidClues clues;
  if (const std::string* binary = property(properties, "application.process.binary")) clues.binary = *binary;
  if (const std::string* portal = property(stream, "pipewire.access.portal.app_id")) {
    clues.appId = *portal;
    clues.appIdVouched = true;
  } else if (const std::string* declared = property(stream, "application.id")) {
    clues.appId = *declared;
  }
  return clues;
}

const Client* clientNumbered(std::uint32_t index, const SoundServerState& state) {
  for (const Client& client : state.clients)
    if (client.index == index) return &client;
  return nullptr;
}

// The pid the kernel gave PipeWire for the client's socket, unless the client
// is a connection of the pulse server (the monitor's own is one), whose pid
// that is. Without the monitor's own connection to compare, none counts.
std::optional<std::int32_t> kernelPid(const Client* client, const SoundServerState& state) {
  if (client == nullptr) return std::nullopt;
  const auto pid = pidProperty(client->properties, "pipewire.sec.pid");
  const Client* own = clientNumbered(state.ownClient, state);
  if (!pid || own == nullptr) return std::nullopt;
  if (pidProperty(own->properties, "pipewire.sec.pid") == pid) return std::nullopt;
  return pid;
}

// The client ends of the server's socket, asked once per listing and only
// when some pid rests on a claim.
class Witness {
 public:
  Witness(const SoundServerState& state, const std::string& root, const ClientSockets& clientSockets)
      : state_(state), root_(root), clientSockets_(clientSockets) {}

  // A claimed process is refuted when the kernel lists the server's clients
  // and neither it nor any process of its sandbox is seen to hold one (a
  // process whose open files cannot be looked at holds none that is seen).
  bool refutes(pid_t claimed) {
    if (!asked_) {
      asked_ = true;
      auto listed = !state_.socketPath.empty() && clientSockets_ ? clientSockets_(state_.socketPath) : std::nullopt;
      known_ = listed.has_value();
      if (listed) sockets_ = std::move(*listed);
    }
    if (!known_) return false;
    if (holdsSocket(root_, claimed, sockets_)) return false;
    for (const pid_t mate : sandboxMates(root_, claimed))
      if (holdsSocket(root_, mate, sockets_)) return false;
    return true;
  }

 private:
  const SoundServerState& state_;
  const std::string& root_;
  const ClientSockets& clientSockets_;
  bool asked_ = false;
  bool known_ = false;  // whether the kernel told
  std::vector<SocketInode> sockets_;
};

std::optional<std::int32_t> claimedPid(const CaptureStream& stream, const Client* client, PidTranslation& translation) {
  if (auto pid = pidProperty(stream.properties, "application.process.id"))
    return translation.hostPid(*pid, cluesFrom(stream.properties, stream.properties));
  if (client == nullptr) return std::nullopt;
  if (auto pid = pidProperty(client->properties, "application.process.id"))
    return translation.hostPid(*pid, cluesFrom(client->properties, stream.properties));
  return std::nullopt;
}

std::optional<std::int32_t> hostPidOf(const CaptureStream& stream, const SoundServerState& state,
                                      PidTranslation& translation, Witness& witness) {
  const Client* client = clientNumbered(stream.client, state);
  if (auto pid = kernelPid(client, state)) return pid;
  const auto claimed = claimedPid(stream, client, translation);
  if (!claimed || witness.refutes(*claimed)) return std::nullopt;
  return claimed;
}

}  // namespace

const CaptureStream* sameStream(const CaptureStream& stream, const SoundServerState* earlier) {
  if (earlier == nullptr || stream.index == kNoIndex) return nullptr;
  for (const CaptureStream& known : earlier->streams)
    if (known.index == stream.index && known.client == stream.client && known.properties == stream.properties)
      return &known;
  return nullptr;
}

void resolveStreamPids(SoundServerState& state, const std::string& root, const SoundServerState* earlier,
                       const ClientSockets& clientSockets) {
  PidTranslation translation(root);
  Witness witness(state, root, clientSockets);
  for (CaptureStream& stream : state.streams) {
    const CaptureStream* known = sameStream(stream, earlier);
    stream.pid = known != nullptr ? known->pid : hostPidOf(stream, state, translation, witness);
  }
}

}  // namespace linux_source
