// CoreAudio's property listeners: registered by the program, called when a
// test (or a source) says that a property changed.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/model/coreaudio_names.h"
#include "platform/model/model.h"
#include "platform/model/objects.h"

namespace model {
namespace {

struct Registration {
  Listener listener;
  AudioObjectPropertyListenerProc proc;
  void* clientData;
  bool operator==(const Registration&) const = default;
};

std::vector<Registration>& registrations() {
  static std::vector<Registration> all;
  return all;
}

bool objectExists(AudioObjectID object) {
  return object == kAudioObjectSystemObject || scene().hal.count(object) != 0;
}

// The registration the arguments name, or nothing when they are malformed.
bool registrationOf(const char* call, AudioObjectID object, const AudioObjectPropertyAddress* address,
                    AudioObjectPropertyListenerProc proc, void* clientData, Registration& out) {
  if (address == nullptr || proc == nullptr) {
    noteMisuse(std::string(call) + " without an address or a listener");
    return false;
  }
  if (address->mElement != kAudioObjectPropertyElementMain)
    noteMisuse(std::string(call) + " with element " + std::to_string(address->mElement));
  record(describeCall(call, object, *address));
  out = Registration{Listener{object, address->mSelector, address->mScope}, proc, clientData};
  return true;
}

}  // namespace

void forgetListeners() { registrations().clear(); }

std::vector<Listener> listeners() {
  std::vector<Listener> out;
  for (const Registration& registration : registrations()) out.push_back(registration.listener);
  return out;
}

std::size_t fireListeners(AudioObjectID object, AudioObjectPropertySelector selector, AudioObjectPropertyScope scope) {
  const Listener changed{object, selector, scope};
  // A listener may add or remove listeners; those called are the ones registered now.
  std::vector<Registration> called;
  for (const Registration& registration : registrations())
    if (registration.listener == changed) called.push_back(registration);
  const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
  for (const Registration& registration : called) registration.proc(object, 1, &address, registration.clientData);
  return called.size();
}

std::size_t listenersOnVanishedObjects() {
  return static_cast<std::size_t>(std::count_if(registrations().begin(), registrations().end(),
                                                [](const Registration& r) { return !objectExists(r.listener.object); }));
}

}  // namespace model

OSStatus AudioObjectAddPropertyListener(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        AudioObjectPropertyListenerProc inListener, void* inClientData) {
  model::Registration registration{};
  if (!model::registrationOf("AudioObjectAddPropertyListener", inObjectID, inAddress, inListener, inClientData,
                             registration))
    return kAudioHardwareUnknownPropertyError;
  if (!model::objectExists(inObjectID)) return kAudioHardwareBadObjectError;
  auto& all = model::registrations();
  if (std::find(all.begin(), all.end(), registration) != all.end()) {
    model::noteMisuse("the same listener added twice to " + std::to_string(inObjectID));
    return noErr;
  }
  all.push_back(registration);
  return noErr;
}

OSStatus AudioObjectRemovePropertyListener(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                           AudioObjectPropertyListenerProc inListener, void* inClientData) {
  model::Registration registration{};
  if (!model::registrationOf("AudioObjectRemovePropertyListener", inObjectID, inAddress, inListener, inClientData,
                             registration))
    return kAudioHardwareUnknownPropertyError;
  auto& all = model::registrations();
  const auto found = std::find(all.begin(), all.end(), registration);
  if (found == all.end()) {
    model::noteMisuse("a listener removed from " + std::to_string(inObjectID) + " that was never added");
    return kAudioHardwareUnknownPropertyError;
  }
  all.erase(found);
  // The platform lets go of a listener on an object that has gone, and says the object is gone.
  return model::objectExists(inObjectID) ? noErr : kAudioHardwareBadObjectError;
}
