#include "audio/mic_holders.h"

#include "audio/hal_query.h"
#include "platform/app_registry.h"
#include "platform/cf_ref.h"
#include "platform/cf_text.h"
#include "platform/version_gate.h"

namespace {

// The selectors travel as values so that only the guarded block names them:
// the 14.2 SDK gives them no availability marking, so no compiler warning
// points at a use that escaped the gate, and one place that names them is
// easy to keep behind it.
struct ProcessSelectors {
  AudioObjectPropertySelector list;
  AudioObjectPropertySelector isRunningInput;
  AudioObjectPropertySelector pid;
  AudioObjectPropertySelector bundleID;
};

AudioObjectPropertyAddress global(AudioObjectPropertySelector selector) {
  return propertyAddress(selector, kAudioObjectPropertyScopeGlobal);
}

bool capturing(AudioObjectID process, const ProcessSelectors& selectors) {
  UInt32 running = 0;
  return readProperty(process, global(selectors.isRunningInput), sizeof running, &running) == noErr && running != 0;
}

std::int32_t processPid(AudioObjectID process, const ProcessSelectors& selectors) {
  SInt32 pid = -1;
  if (readProperty(process, global(selectors.pid), sizeof pid, &pid) != noErr) return -1;
  return pid;
}

std::string processBundle(AudioObjectID process, const ProcessSelectors& selectors) {
  CFStringRef reference = nullptr;
  if (readProperty(process, global(selectors.bundleID), sizeof reference, &reference) != noErr) return {};
  const auto owned = ownCF(reference);
  return textOf(owned.get());
}

Holder describe(AudioObjectID process, const ProcessSelectors& selectors) {
  Holder holder;
  holder.pid = processPid(process, selectors);
  holder.bundle = processBundle(process, selectors);
  // Looked up even for pid -1: the registry, not this probe, decides what that finds.
  const std::optional<RunningApplication> application = runningApplicationWithProcessIdentifier(holder.pid);
  if (application) {
    // The process object's own bundle identifier stands over the application's.
    if (holder.bundle.empty()) holder.bundle = application->bundleIdentifier();
    holder.name = application->localizedName();
  }
  return holder;
}

std::vector<Holder> holdersOf(const ProcessSelectors& selectors) {
  std::vector<Holder> holders;
  const auto processes = systemObjectList(selectors.list, EmptyList::notRead);
  if (!processes) return holders;
  for (const AudioObjectID process : *processes) {
    // The input-running read comes first, so an idle process costs one query.
    if (capturing(process, selectors)) holders.push_back(describe(process, selectors));
  }
  return holders;
}

}  // namespace

std::vector<Holder> micHolders() {
  if (AVAILABLE_MACOS_14_2) {
    return holdersOf(ProcessSelectors{kAudioHardwarePropertyProcessObjectList, kAudioProcessPropertyIsRunningInput,
                                      kAudioProcessPropertyPID, kAudioProcessPropertyBundleID});
  }
  return {};
}
