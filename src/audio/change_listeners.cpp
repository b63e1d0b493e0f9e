#include "audio/change_listeners.h"

#include "audio/any_input_running.h"
#include "audio/hal_query.h"
#include "platform/change_wait.h"
#include "platform/version_gate.h"

namespace {

// CoreAudio calls listeners on a thread of its own: this one only wakes the
// program's thread, which asks the probes again.
OSStatus onPropertyChange(AudioObjectID, UInt32, const AudioObjectPropertyAddress*, void*) {
  wakeForChange();
  return noErr;
}

AudioObjectPropertyAddress global(AudioObjectPropertySelector selector) {
  return propertyAddress(selector, kAudioObjectPropertyScopeGlobal);
}

}  // namespace

ChangeListeners::~ChangeListeners() {
  for (const auto& [object, selector] : registered_) {
    const AudioObjectPropertyAddress address = global(selector);
    AudioObjectRemovePropertyListener(object, &address, onPropertyChange, nullptr);
  }
}

void ChangeListeners::wantEach(AudioObjectPropertySelector list, AudioObjectPropertySelector property,
                               bool inputOnly, std::set<Key>& wanted) const {
  wanted.emplace(kAudioObjectSystemObject, list);
  const auto objects = systemObjectList(list, EmptyList::notRead);
  if (!objects) {
    for (const Key& key : registered_)
      if (key.second == property) wanted.insert(key);
    return;
  }
  for (const AudioObjectID object : *objects) {
    // A slot the answer left unfilled names no object.
    if (object == 0 || (inputOnly && !deviceHasInput(object))) continue;
    wanted.emplace(object, property);
  }
}

void ChangeListeners::follow() {
  std::set<Key> wanted;
  wantEach(kAudioHardwarePropertyDevices, kAudioDevicePropertyDeviceIsRunningSomewhere, true, wanted);
  // Named only inside the gate, as the probe names them: before 14.2 there
  // are no process objects to listen to.
  if (AVAILABLE_MACOS_14_2) {
    wantEach(kAudioHardwarePropertyProcessObjectList, kAudioProcessPropertyIsRunningInput, false, wanted);
  }
  for (auto it = registered_.begin(); it != registered_.end();) {
    if (wanted.count(*it) != 0) {
      ++it;
      continue;
    }
    // An object that has gone takes its listener with it, and the call says
    // so; either way it is no longer ours to remove.
    const AudioObjectPropertyAddress address = global(it->second);
    AudioObjectRemovePropertyListener(it->first, &address, onPropertyChange, nullptr);
    it = registered_.erase(it);
  }
  for (const Key& key : wanted) {
    if (registered_.count(key) != 0) continue;
    const AudioObjectPropertyAddress address = global(key.second);
    // One that goes before it is listened to is simply not in the next list.
    if (AudioObjectAddPropertyListener(key.first, &address, onPropertyChange, nullptr) == noErr)
      registered_.insert(key);
  }
}
