// The capture sessions and the consent store's holders as the HAL objects
// the audio probes ask about, so that the probes and the line are the same
// code as on every other system.
#pragma once

#include <string>
#include <vector>

#include "platform/model/scene.h"
#include "platform/windows/sound/capture_sessions.h"
#include "platform/windows/sound/consent_entries.h"

namespace windows_source {

// Process objects and devices live in ranges of their own, so that
// refreshing one list leaves the other alone.
constexpr AudioObjectID kFirstProcessObject = 0x10000000;
constexpr AudioObjectID kFirstDevice = 0x20000000;

// The processes of the active sessions on the capture endpoints, the system
// sounds left out, each once, in the order of their first session.
std::vector<ProcessId> sessionHolders(const CaptureListing& listing);

// A consent holder without a pid carries the identifier its entry names.
struct NamedHolder {
  ConsentHolder holder;
  std::string bundle;
};

// One process object per session holder, then one per consent holder that no
// session named already; every one of them is capturing.
void putProcessObjects(const CaptureListing& listing, const std::vector<NamedHolder>& consent, model::Scene& scene);

// One input device per active capture endpoint, running while one of its
// sessions is active.
void putDevices(const CaptureListing& listing, model::Scene& scene);

}  // namespace windows_source
