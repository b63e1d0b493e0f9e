// Ready-made answers for scripting HAL properties.
#include <cstddef>
#include <cstring>

#include "platform/model/scene.h"

namespace model {
namespace {

template <typename T>
std::vector<unsigned char> bytesOf(const T& value) {
  std::vector<unsigned char> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

}  // namespace

PropertyAnswer uint32Value(UInt32 value) { return PropertyAnswer{noErr, noErr, true, bytesOf(value), {}, {}}; }
PropertyAnswer int32Value(SInt32 value) { return PropertyAnswer{noErr, noErr, true, bytesOf(value), {}, {}}; }

PropertyAnswer idList(const std::vector<AudioObjectID>& ids) {
  PropertyAnswer answer;
  answer.bytes.resize(ids.size() * sizeof(AudioObjectID));
  if (!ids.empty()) std::memcpy(answer.bytes.data(), ids.data(), answer.bytes.size());
  return answer;
}

PropertyAnswer stringReference(std::string text) {
  PropertyAnswer answer;
  answer.announcedSize = sizeof(void*);
  answer.newString = std::move(text);
  return answer;
}

PropertyAnswer nullReference() {
  const void* null = nullptr;
  return PropertyAnswer{noErr, noErr, true, bytesOf(null), {}, {}};
}

PropertyAnswer failing(OSStatus status) { return PropertyAnswer{status, status, true, {}, {}, {}}; }

PropertyAnswer failingData(OSStatus status) {
  PropertyAnswer answer;
  answer.dataStatus = status;
  answer.announcedSize = 4;
  return answer;
}

PropertyAnswer notWritten(UInt32 announcedSize) {
  PropertyAnswer answer;
  answer.writes = false;
  answer.announcedSize = announcedSize;
  return answer;
}

PropertyAnswer bufferList(const std::vector<UInt32>& channelsPerBuffer) {
  const std::size_t count = channelsPerBuffer.size();
  const std::size_t size = offsetof(AudioBufferList, mBuffers) + count * sizeof(AudioBuffer);
  PropertyAnswer answer;
  answer.bytes.assign(size, 0);
  const UInt32 buffers = static_cast<UInt32>(count);
  std::memcpy(answer.bytes.data() + offsetof(AudioBufferList, mNumberBuffers), &buffers, sizeof buffers);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = offsetof(AudioBufferList, mBuffers) + i * sizeof(AudioBuffer);
    std::memcpy(answer.bytes.data() + at + offsetof(AudioBuffer, mNumberChannels), &channelsPerBuffer[i],
                sizeof(UInt32));
  }
  return answer;
}

void setProperty(Scene& scene, AudioObjectID object, AudioObjectPropertySelector selector,
                 AudioObjectPropertyScope scope, PropertyAnswer answer) {
  scene.hal[object].properties[{selector, scope}] = std::move(answer);
}

void setGlobal(Scene& scene, AudioObjectID object, AudioObjectPropertySelector selector, PropertyAnswer answer) {
  setProperty(scene, object, selector, kAudioObjectPropertyScopeGlobal, std::move(answer));
}

}  // namespace model
