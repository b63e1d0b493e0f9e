#include "platform/linux/sound/sound_hal.h"

#include <optional>
#include <string>

#include "platform/linux/identity/browser_map.h"
#include "platform/linux/sound/capture_routes.h"

namespace linux_source {
namespace {

// An ID the stream declares. One that would pass for a browser's is not
// taken from the stream: any client may declare it (PulseAudio keeps
// whatever a client sets, even a portal's key), and a browser's identifier
// brings that browser's titles with it. The registry then tells from the
// process, where a browser's name needs more than a claim.
std::string declaredApplicationId(const CaptureStream& stream) {
  for (const char* key : {"application.id", "pipewire.access.portal.app_id"}) {
    const auto found = stream.properties.find(key);
    if (found == stream.properties.end() || found->second.empty() || namesBrowser(found->second)) continue;
    return found->second;
  }
  return {};
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

void putProcessObjects(const SoundServerState& state, model::Scene& scene) {
  const CaptureRoutes routes = captureRoutes(state);
  std::vector<ProcessObject> processes;
  for (const CaptureStream& stream : state.streams) {
    if (isFilterStream(stream)) continue;  // the server's own, no application's
    const std::optional<SInt32> pid = stream.pid;
    ProcessObject* process = nullptr;
    for (ProcessObject& known : processes) {
      if (pid ? known.pid == pid : (!known.pid && known.client == stream.client)) process = &known;
    }
    if (process == nullptr) {
      processes.push_back(ProcessObject{pid, stream.client, false, {}});
      process = &processes.back();
    }
    if (recordsInput(stream, state, routes)) process->running = true;
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
  // A source that runs only for level meters or for the server's own filters
  // is not in use: neither a volume applet nor an echo canceller that waits
  // for a call may light the "on air" sign.
  const CaptureRoutes routes = captureRoutes(state);
  for (std::size_t i = 0; i < state.sources.size(); ++i) {
    const InputSource& source = state.sources[i];
    if (source.monitor()) continue;
    putDevice(scene, next(), source.channels, source.running && routes.recordedByApplication[i]);
  }
  for (std::size_t i = 0; i < capturesOutsideServer; ++i) putDevice(scene, next(), 1, true);
  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyDevices, model::idList(ids));
}

}  // namespace linux_source
