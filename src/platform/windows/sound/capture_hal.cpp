#include "platform/windows/sound/capture_hal.h"

#include <algorithm>
#include <optional>

namespace windows_source {
namespace {

void eraseRange(model::Scene& scene, AudioObjectID first, AudioObjectID last) {
  scene.hal.erase(scene.hal.lower_bound(first), scene.hal.lower_bound(last));
}

bool countsForCapture(const AudioSession& session) { return session.active && !session.systemSounds; }

struct ProcessObject {
  std::optional<ProcessId> pid;
  std::string bundle;  // only where no pid lets the registry answer
};

}  // namespace

std::vector<ProcessId> sessionHolders(const CaptureListing& listing) {
  std::vector<ProcessId> pids;
  for (const CaptureEndpoint& endpoint : listing.endpoints)
    for (const AudioSession& session : endpoint.sessions)
      if (countsForCapture(session) && session.process &&
          std::find(pids.begin(), pids.end(), *session.process) == pids.end())
        pids.push_back(*session.process);
  return pids;
}

void putProcessObjects(const CaptureListing& listing, const std::vector<NamedHolder>& consent, model::Scene& scene) {
  std::vector<ProcessObject> processes;
  for (ProcessId pid : sessionHolders(listing)) processes.push_back(ProcessObject{pid, {}});
  // A session of several processes captures too, though it names none of them.
  for (const CaptureEndpoint& endpoint : listing.endpoints)
    for (const AudioSession& session : endpoint.sessions)
      if (countsForCapture(session) && !session.process) processes.push_back(ProcessObject{std::nullopt, {}});
  for (const NamedHolder& named : consent) {
    const auto same = [&](const ProcessObject& known) { return named.holder.pid && known.pid == named.holder.pid; };
    if (std::any_of(processes.begin(), processes.end(), same)) continue;
    processes.push_back(ProcessObject{named.holder.pid, named.holder.pid ? std::string() : named.bundle});
  }

  eraseRange(scene, kFirstProcessObject, kFirstDevice);
  std::vector<AudioObjectID> ids;
  for (const ProcessObject& process : processes) {
    const auto id = static_cast<AudioObjectID>(kFirstProcessObject + ids.size());
    ids.push_back(id);
    model::setGlobal(scene, id, kAudioProcessPropertyIsRunningInput, model::uint32Value(1));
    model::setGlobal(scene, id, kAudioProcessPropertyPID,
                     process.pid ? model::int32Value(static_cast<SInt32>(*process.pid))
                                 : model::failing(kAudioHardwareUnknownPropertyError));
    model::setGlobal(scene, id, kAudioProcessPropertyBundleID,
                     process.bundle.empty() ? model::nullReference() : model::stringReference(process.bundle));
  }
  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, model::idList(ids));
}

void putDevices(const CaptureListing& listing, model::Scene& scene) {
  eraseRange(scene, kFirstDevice, kFirstDevice + 0x10000000);
  std::vector<AudioObjectID> ids;
  for (const CaptureEndpoint& endpoint : listing.endpoints) {
    const auto id = static_cast<AudioObjectID>(kFirstDevice + ids.size());
    ids.push_back(id);
    const bool running = std::any_of(endpoint.sessions.begin(), endpoint.sessions.end(),
                                     [](const AudioSession& session) { return session.active; });
    // The endpoint's channel count is not read: a capture endpoint has input,
    // and that is all the probe asks of it.
    model::setProperty(scene, id, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
                       model::bufferList({1}));
    model::setGlobal(scene, id, kAudioDevicePropertyDeviceIsRunningSomewhere, model::uint32Value(running ? 1 : 0));
  }
  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyDevices, model::idList(ids));
}

}  // namespace windows_source
