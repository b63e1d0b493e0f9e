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

}  // namespace model
