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

const Client* clientOf(const CaptureStream& stream, const SoundServerState& state) {
  for (const Client& client : state.clients)
    if (client.index == stream.client) return &client;
  return nullptr;
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

std::optional<std::int32_t> hostPidOf(const CaptureStream& stream, const SoundServerState& state,
                                      PidTranslation& translation) {
  if (auto pid = pidProperty(stream.properties, "application.process.id"))
    return translation.hostPid(*pid, cluesFrom(stream.properties, stream.properties));
  const Client* client = clientOf(stream, state);
  if (client == nullptr) return std::nullopt;
  if (auto pid = pidProperty(client->properties, "application.process.id"))
    return translation.hostPid(*pid, cluesFrom(client->properties, stream.properties));
  return pidProperty(client->properties, "pipewire.sec.pid");
}

const CaptureStream* sameStream(const CaptureStream& stream, const SoundServerState* earlier) {
  if (earlier == nullptr) return nullptr;
  for (const CaptureStream& known : earlier->streams)
    if (known.index == stream.index && known.client == stream.client && known.properties == stream.properties)
      return &known;
  return nullptr;
}

}  // namespace

void resolveStreamPids(SoundServerState& state, const std::string& root, const SoundServerState* earlier) {
  PidTranslation translation(root);
  for (CaptureStream& stream : state.streams) {
    const CaptureStream* known = stream.index != kNoIndex ? sameStream(stream, earlier) : nullptr;
    stream.pid = known != nullptr ? known->pid : hostPidOf(stream, state, translation);
  }
}

}  // namespace linux_source
