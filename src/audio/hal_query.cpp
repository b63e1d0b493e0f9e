#include "audio/hal_query.h"

AudioObjectPropertyAddress propertyAddress(AudioObjectPropertySelector selector, AudioObjectPropertyScope scope) {
  return AudioObjectPropertyAddress{selector, scope, kAudioObjectPropertyElementMain};
}

OSStatus readProperty(AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32 capacity,
                      void* destination) {
  UInt32 size = capacity;
  return AudioObjectGetPropertyData(object, &address, 0, nullptr, &size, destination);
}

OSStatus propertySize(AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32& size) {
  size = 0;
  return AudioObjectGetPropertyDataSize(object, &address, 0, nullptr, &size);
}

std::optional<std::vector<AudioObjectID>> systemObjectList(AudioObjectPropertySelector selector, EmptyList empty) {
  const AudioObjectPropertyAddress address = propertyAddress(selector, kAudioObjectPropertyScopeGlobal);
  UInt32 size = 0;
  if (propertySize(kAudioObjectSystemObject, address, size) != noErr) return std::nullopt;
  std::vector<AudioObjectID> ids(size / sizeof(AudioObjectID), 0);
  if (ids.empty() && empty == EmptyList::notRead) return ids;
  // The buffer's own byte size, not the reported one: a size that is not a
  // whole number of IDs must not let the platform write past the last slot.
  const auto capacity = static_cast<UInt32>(ids.size() * sizeof(AudioObjectID));
  if (readProperty(kAudioObjectSystemObject, address, capacity, ids.data()) != noErr) return std::nullopt;
  return ids;
}
