// The CoreAudio property queries, answered from the scene.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/model/coreaudio_names.h"
#include "platform/model/model.h"
#include "platform/model/objects.h"
#include "platform/model/source.h"

namespace {

bool argumentsAccepted(const char* call, const AudioObjectPropertyAddress* address, UInt32 qualifierSize,
                       const void* qualifier, const UInt32* size) {
  if (address == nullptr || size == nullptr) {
    model::noteMisuse(std::string(call) + " without an address or a size");
    return false;
  }
  if (address->mElement != kAudioObjectPropertyElementMain)
    model::noteMisuse(std::string(call) + " with element " + std::to_string(address->mElement));
  if (qualifierSize != 0 || qualifier != nullptr) model::noteMisuse(std::string(call) + " with a qualifier");
  return true;
}

const model::PropertyAnswer* answerFor(AudioObjectID object, const AudioObjectPropertyAddress& address) {
  const auto& hal = model::scene().hal;
  auto found = hal.find(object);
  if (found == hal.end()) return nullptr;
  auto property = found->second.properties.find({address.mSelector, address.mScope});
  return property == found->second.properties.end() ? nullptr : &property->second;
}

void refreshBeforeList(AudioObjectID object, const AudioObjectPropertyAddress& address) {
  if (object != kAudioObjectSystemObject) return;
  if (address.mSelector == kAudioHardwarePropertyProcessObjectList)
    model::activeSource().refresh(model::scene(), model::Moment::processList, -1);
  else if (address.mSelector == kAudioHardwarePropertyDevices)
    model::activeSource().refresh(model::scene(), model::Moment::deviceList, -1);
}

}  // namespace

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        UInt32 inQualifierDataSize, const void* inQualifierData,
                                        UInt32* outDataSize) {
  if (!argumentsAccepted("AudioObjectGetPropertyDataSize", inAddress, inQualifierDataSize, inQualifierData,
                         outDataSize))
    return kAudioHardwareUnknownPropertyError;
  if (model::recording()) model::record(model::describeCall("AudioObjectGetPropertyDataSize", inObjectID, *inAddress));
  refreshBeforeList(inObjectID, *inAddress);
  const model::PropertyAnswer* answer = answerFor(inObjectID, *inAddress);
  if (answer == nullptr) return kAudioHardwareUnknownPropertyError;
  if (answer->sizeStatus != noErr) return answer->sizeStatus;
  *outDataSize = answer->announcedSize.value_or(static_cast<UInt32>(answer->bytes.size()));
  return noErr;
}

OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                    UInt32 inQualifierDataSize, const void* inQualifierData, UInt32* ioDataSize,
                                    void* outData) {
  if (!argumentsAccepted("AudioObjectGetPropertyData", inAddress, inQualifierDataSize, inQualifierData,
                         ioDataSize))
    return kAudioHardwareUnknownPropertyError;
  const UInt32 capacity = *ioDataSize;
  if (model::recording()) {
    std::string entry = model::describeCall("AudioObjectGetPropertyData", inObjectID, *inAddress);
    entry.insert(entry.size() - 1, ", " + std::to_string(capacity));
    model::record(std::move(entry));
  }
  if (capacity > 0 && outData == nullptr) {
    model::noteMisuse("AudioObjectGetPropertyData with a capacity and no destination");
    return kAudioHardwareUnknownPropertyError;
  }
  const model::PropertyAnswer* answer = answerFor(inObjectID, *inAddress);
  if (answer == nullptr) return kAudioHardwareUnknownPropertyError;
  if (answer->dataStatus != noErr) return answer->dataStatus;
  if (!answer->writes) return noErr;
  if (answer->newString) {
    // A Copy-style answer: a new reference for the caller to release.
    const void* ref = nullptr;
    if (capacity < sizeof ref) return kAudioHardwareBadPropertySizeError;
    ref = model::createObject(model::stringObject(*answer->newString));
    std::memcpy(outData, &ref, sizeof ref);
    *ioDataSize = sizeof ref;
    return noErr;
  }
  // The platform never writes past the capacity it is given.
  const UInt32 written = std::min<UInt32>(capacity, static_cast<UInt32>(answer->bytes.size()));
  if (written > 0) std::memcpy(outData, answer->bytes.data(), written);
  *ioDataSize = written;
  return noErr;
}
