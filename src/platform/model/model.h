// The platform model's controls, for tests and for the Linux source: the scene
// it answers from, the record of every call made to it, and its accounting of
// the references it handed out.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/model/scene.h"

namespace model {

Scene& scene();

// A fresh scene, an empty record and no references outstanding. Recording on.
void reset();

// The record costs memory per call, so a long-running program keeps it off.
void setRecording(bool on);
const std::vector<std::string>& calls();
void noteCall(std::string entry);  // lets a test mark its own events in order
// Called before each call is recorded, so a test can mark what happened since
// the last one (an empty function stops it).
void setCallObserver(std::function<void()> observer);

// References handed out by Create or Copy calls and not yet released.
std::size_t heldReferences();
// Releases of a reference that was not outstanding: released twice, or never handed out.
std::size_t badReleases();
// Arguments the platform would not accept (a nonzero element, a qualifier, a null size).
const std::vector<std::string>& misuses();

std::string fourCharCode(unsigned value);

// A property listener the program has registered and not yet removed.
struct Listener {
  AudioObjectID object = 0;
  AudioObjectPropertySelector selector = 0;
  AudioObjectPropertyScope scope = 0;
  bool operator==(const Listener&) const = default;
};
// In the order they were added.
std::vector<Listener> listeners();
// Calls every listener registered on the property, as the HAL does when the
// property changes (or, for a list, when an object comes or goes); how many were called.
std::size_t fireListeners(AudioObjectID object, AudioObjectPropertySelector selector,
                          AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal);
// Listeners left registered on objects that are no longer in the scene.
std::size_t listenersOnVanishedObjects();

}  // namespace model
