#include "audio/any_input_running.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "audio/hal_query.h"

namespace {

struct FreeBlock {
  void operator()(unsigned char* block) const { std::free(block); }
};
using Block = std::unique_ptr<unsigned char, FreeBlock>;

// The channel total of an AudioBufferList block, at the platform's published
// layout. A record counts only when it lies wholly inside the block, so an
// answer that announces more buffers than it holds is never read past its end.
std::int64_t inputChannels(const unsigned char* block, std::size_t size) {
  UInt32 buffers = 0;
  if (size < offsetof(AudioBufferList, mNumberBuffers) + sizeof buffers) return 0;
  std::memcpy(&buffers, block + offsetof(AudioBufferList, mNumberBuffers), sizeof buffers);
  std::int64_t total = 0;
  for (std::size_t i = 0; i < buffers; ++i) {
    const std::size_t record = offsetof(AudioBufferList, mBuffers) + i * sizeof(AudioBuffer);
    if (record + sizeof(AudioBuffer) > size) break;
    UInt32 channels = 0;
    std::memcpy(&channels, block + record + offsetof(AudioBuffer, mNumberChannels), sizeof channels);
    total += channels;
  }
  return total;
}

}  // namespace

bool deviceHasInput(AudioObjectID device) {
  const AudioObjectPropertyAddress configuration =
      propertyAddress(kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput);
  UInt32 size = 0;
  if (propertySize(device, configuration, size) != noErr || size == 0) return false;
  // Zero-filled, so bytes the answer leaves unwritten read as no channels.
  const Block block(static_cast<unsigned char*>(std::calloc(size, 1)));
  if (!block) return false;
  if (readProperty(device, configuration, size, block.get()) != noErr) return false;
  return inputChannels(block.get(), size) > 0;
}

namespace {

bool runningSomewhere(AudioObjectID device) {
  UInt32 running = 0;
  const AudioObjectPropertyAddress address =
      propertyAddress(kAudioDevicePropertyDeviceIsRunningSomewhere, kAudioObjectPropertyScopeGlobal);
  return readProperty(device, address, sizeof running, &running) == noErr && running != 0;
}

}  // namespace

bool anyInputRunning() {
  const auto devices = systemObjectList(kAudioHardwarePropertyDevices, EmptyList::read);
  if (!devices) return false;
  for (const AudioObjectID device : *devices) {
    if (deviceHasInput(device) && runningSomewhere(device)) return true;
  }
  return false;
}
