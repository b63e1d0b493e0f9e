#include "platform/linux/sound/sound_hal.h"

#include <charconv>
#include <optional>
#include <string>

namespace linux_source {
namespace {

const std::string* property(const Properties& properties, const char* key) {
  auto found = properties.find(key);
  return found == properties.end() ? nullptr : &found->second;
}

bool isTrue(const Properties& properties, const char* key) {
  const std::string* value = property(properties, key);
  return value != nullptr && *value == "true";
}

std::optional<SInt32> pidProperty(const Properties& properties, const char* key) {
  const std::string* value = property(properties, key);
  if (value == nullptr || value->empty()) return std::nullopt;
  SInt32 pid = 0;
  const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), pid);
  if (error != std::errc() || end != value->data() + value->size() || pid <= 0) return std::nullopt;
  return pid;
}

const Client* clientOf(const CaptureStream& stream, const SoundServerState& state) {
  for (const Client& client : state.clients)
    if (client.index == stream.client) return &client;
  return nullptr;
}

const InputSource* sourceOf(std::uint32_t index, const SoundServerState& state) {
  for (const InputSource& source : state.sources)
    if (source.index == index) return &source;
  return nullptr;
}

// The stream's own pid, then its client's; PipeWire's security pid last,
// since for a client of the pulse protocol it is the pulse server's own.
std::optional<SInt32> streamPid(const CaptureStream& stream, const SoundServerState& state) {
  if (auto pid = pidProperty(stream.properties, "application.process.id")) return pid;
  const Client* client = clientOf(stream, state);
  if (client == nullptr) return std::nullopt;
  if (auto pid = pidProperty(client->properties, "application.process.id")) return pid;
  return pidProperty(client->properties, "pipewire.sec.pid");
}

std::string declaredApplicationId(const CaptureStream& stream) {
  for (const char* key : {"application.id", "pipewire.access.portal.app_id"}) {
    const std::string* value = property(stream.properties, key);
    if (value != nullptr && !value->empty()) return *value;
  }
  return {};
}

bool isLevelMeter(const CaptureStream& stream) {
  // PulseAudio shows a peak-detect stream only by its resampler; PipeWire
  // says so in the stream's properties.
  return stream.resampleMethod == "peaks" || isTrue(stream.properties, "resample.peaks");
}

struct ProcessObject {
  std::optional<SInt32> pid;
  std::uint32_t client = kNoIndex;  // groups the streams of a client without a pid
  bool running = false;
  std::string applicationId;
};

void eraseRange(model::Scene& scene, AudioObjectID first, AudioObjectID last) {
  scene.hal.erase(scene.hal.lower_bound(first), scene.hal.lower_bound(last));
}


void putDevice(model::Scene& scene, AudioObjectID device, std::uint32_t inputChannels, bool running) {
  model::setProperty(scene, device, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
                     model::bufferList(inputChannels > 0 ? std::vector<UInt32>{inputChannels} : std::vector<UInt32>{}));
  model::setGlobal(scene, device, kAudioDevicePropertyDeviceIsRunningSomewhere, model::uint32Value(running ? 1 : 0));
}

}  // namespace

bool recordsInput(const CaptureStream& stream, const SoundServerState& state) {
  if (stream.corked || stream.source == kNoIndex) return false;
  const InputSource* source = sourceOf(stream.source, state);
  if (source != nullptr && source->monitor) return false;
  if (isTrue(stream.properties, "stream.capture.sink")) return false;
  return !isLevelMeter(stream);
}

void putProcessObjects(const SoundServerState& state, model::Scene& scene) {
  std::vector<ProcessObject> processes;
  for (const CaptureStream& stream : state.streams) {
    const std::optional<SInt32> pid = streamPid(stream, state);
    ProcessObject* process = nullptr;
    for (ProcessObject& known : processes) {
      if (pid ? known.pid == pid : (!known.pid && known.client == stream.client)) process = &known;
    }
    if (process == nullptr) {
      processes.push_back(ProcessObject{pid, stream.client, false, {}});
      process = &processes.back();
    }
    if (recordsInput(stream, state)) process->running = true;
    if (process->applicationId.empty()) process->applicationId = declaredApplicationId(stream);
  }

  eraseRange(scene, kFirstProcessObject, kFirstDevice);
  std::vector<AudioObjectID> ids;
  for (const ProcessObject& process : processes) {
    const auto id = static_cast<AudioObjectID>(kFirstProcessObject + ids.size());
    ids.push_back(id);
    model::setGlobal(scene, id, kAudioProcessPropertyIsRunningInput, model::uint32Value(process.running ? 1 : 0));
    model::setGlobal(scene, id, kAudioProcessPropertyPID,
              process.pid ? model::int32Value(*process.pid) : model::failing(kAudioHardwareUnknownPropertyError));
    // No reference at all when the stream declares no ID: the registry then answers.
    model::setGlobal(scene, id, kAudioProcessPropertyBundleID,
              process.applicationId.empty() ? model::nullReference() : model::stringReference(process.applicationId));
  }
  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, model::idList(ids));
}

void putDevices(const SoundServerState& state, std::size_t capturesOutsideServer, model::Scene& scene) {
  eraseRange(scene, kFirstDevice, kFirstDevice + 0x10000000);
  std::vector<AudioObjectID> ids;
  const auto next = [&] {
    ids.push_back(static_cast<AudioObjectID>(kFirstDevice + ids.size()));
    return ids.back();
  };
  for (const OutputSink& sink : state.sinks) putDevice(scene, next(), 0, sink.running);
  for (const InputSource& source : state.sources) {
    if (source.monitor) continue;
    // A source that runs only for level meters is not in use: a volume
    // applet must not light the "on air" sign.
    bool recorded = false;
    for (const CaptureStream& stream : state.streams)
      if (stream.source == source.index && recordsInput(stream, state)) recorded = true;
    putDevice(scene, next(), source.channels, source.running && recorded);
  }
  for (std::size_t i = 0; i < capturesOutsideServer; ++i) putDevice(scene, next(), 1, true);
  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyDevices, model::idList(ids));
}

}  // namespace linux_source
