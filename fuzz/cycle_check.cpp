#include "cycle_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

#include "cycle/poll_cycle.h"
#include "platform/model/model.h"
#include "strict_json.h"

namespace {

const model::PropertyAnswer* property(const model::Scene& scene, AudioObjectID object,
                                      AudioObjectPropertySelector selector,
                                      AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) {
  auto found = scene.hal.find(object);
  if (found == scene.hal.end()) return nullptr;
  auto answer = found->second.properties.find({selector, scope});
  return answer == found->second.properties.end() ? nullptr : &answer->second;
}

// What a read of capacity bytes leaves in a zero-filled destination.
std::vector<unsigned char> dataRead(const model::PropertyAnswer& answer, std::size_t capacity) {
  std::vector<unsigned char> out(capacity, 0);
  const std::size_t written = std::min(capacity, answer.bytes.size());
  if (answer.writes && !answer.newString && written > 0) std::memcpy(out.data(), answer.bytes.data(), written);
  return out;
}

UInt32 uint32Read(const model::PropertyAnswer* answer) {
  if (answer == nullptr || answer->dataStatus != noErr) return 0;
  const auto bytes = dataRead(*answer, 4);
  UInt32 value = 0;
  std::memcpy(&value, bytes.data(), 4);
  return value;
}

std::optional<std::vector<AudioObjectID>> idsRead(const model::Scene& scene, AudioObjectPropertySelector selector) {
  const model::PropertyAnswer* answer = property(scene, kAudioObjectSystemObject, selector);
  if (answer == nullptr || answer->sizeStatus != noErr) return std::nullopt;
  const std::size_t slots = answer->announcedSize.value_or(static_cast<UInt32>(answer->bytes.size())) / 4;
  if (answer->dataStatus != noErr) return std::nullopt;
  const auto bytes = dataRead(*answer, slots * 4);
  std::vector<AudioObjectID> ids(slots);
  if (slots > 0) std::memcpy(ids.data(), bytes.data(), slots * 4);
  return ids;
}

}  // namespace

std::size_t expectedHolderCount(const model::Scene& scene) {
  const auto& v = scene.version;
  if (std::tie(v.major, v.minor, v.patch) < std::make_tuple(14, 2, 0)) return 0;
  const auto ids = idsRead(scene, kAudioHardwarePropertyProcessObjectList);
  if (!ids) return 0;
  std::size_t count = 0;
  for (AudioObjectID id : *ids)
    if (uint32Read(property(scene, id, kAudioProcessPropertyIsRunningInput)) != 0) ++count;
  return count;
}

bool expectedInputRunning(const model::Scene& scene) {
  const auto ids = idsRead(scene, kAudioHardwarePropertyDevices);
  if (!ids) return false;
  for (AudioObjectID id : *ids) {
    const model::PropertyAnswer* configuration =
        property(scene, id, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput);
    if (configuration == nullptr || configuration->sizeStatus != noErr) continue;
    const std::size_t size = configuration->announcedSize.value_or(static_cast<UInt32>(configuration->bytes.size()));
    if (size == 0 || configuration->dataStatus != noErr) continue;
    const auto block = dataRead(*configuration, size);
    std::uint64_t total = 0;
    if (size >= 4) {
      UInt32 buffers = 0;
      std::memcpy(&buffers, block.data(), 4);
      for (std::size_t i = 0; i < buffers && 8 + (i + 1) * 16 <= size; ++i) {
        UInt32 channels = 0;
        std::memcpy(&channels, block.data() + 8 + i * 16, 4);
        total += channels;
      }
    }
    if (total > 0 && uint32Read(property(scene, id, kAudioDevicePropertyDeviceIsRunningSomewhere)) != 0) return true;
  }
  return false;
}

std::string checkOneCycle(const model::Scene& scene) {
  model::reset();
  model::setRecording(false);
  model::scene() = scene;
  char* buffer = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&buffer, &length);
  writeSnapshot(out);
  std::fclose(out);
  const std::string written(buffer, length);
  std::free(buffer);

  if (written.empty() || written.back() != '\n') return "the line does not end with a line feed";
  if (written.find('\n') != written.size() - 1) return "more than one line feed";
  const std::string line = written.substr(0, written.size() - 1);
  if (!json::isValidUtf8(line)) return "the line is not valid UTF-8";
  std::string error;
  const auto value = json::parse(line, &error);
  if (!value) return "the line is not strict JSON: " + error;
  const json::Value* micInUse = value->member("micInUse");
  const json::Value* holders = value->member("holders");
  const json::Value* ax = value->member("ax");
  if (value->members.size() != 3 || micInUse == nullptr || holders == nullptr || ax == nullptr)
    return "the line does not have its three members";
  if (holders->items.size() != expectedHolderCount(scene)) return "holders differ from the scene's";
  if (micInUse->boolean != (!holders->items.empty() || expectedInputRunning(scene))) return "micInUse disagrees";
  if (ax->boolean != scene.trusted) return "ax disagrees with the trust flag";
  for (const json::Value& holder : holders->items) {
    if (holder.members.size() != 4) return "a holder does not have its four members";
    if (holder.member("titles")->items.size() > 24) return "more titles than two applications of twelve windows";
  }
  if (model::heldReferences() != 0) return "references still held";
  if (model::badReleases() != 0) return "a reference released twice";
  if (!model::misuses().empty()) return "platform misused: " + model::misuses().front();
  return {};
}
