#include "scene_from_bytes.h"

#include <cstring>
#include <limits>
#include <string>

namespace {

// Reads what the input holds and zeros once it runs out, so every input is a scene.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  bool boolean() { return (u8() & 1) != 0; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | u8();
    return v;
  }
  std::string bytes(std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n && at_ < size_; ++i) out += static_cast<char>(data_[at_++]);
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

constexpr AudioObjectID kObjects = 8;  // IDs 0..7; 8 names an object that does not exist
const pid_t kPids[] = {-1, 0, 1, 100, 101, 102, std::numeric_limits<pid_t>::max(), std::numeric_limits<pid_t>::min()};

OSStatus status(ByteReader& in) { return in.u8() % 4 == 0 ? static_cast<OSStatus>(in.u32() | 1) : noErr; }

pid_t pid(ByteReader& in) { return kPids[in.u8() % (sizeof kPids / sizeof kPids[0])]; }

std::string text(ByteReader& in) { return in.bytes(in.u8() % 48); }

// Bundle identifiers: random bytes would almost never spell a browser's, and
// the title paths need them to, so most come from browsers and their kin.
std::string bundleText(ByteReader& in) {
  static const char* const kBundles[] = {
      "com.google.Chrome", "org.mozilla.firefox", "com.apple.Safari", "com.google.Chrome.helper",
      "com.google.ChromeBeta", "com.google", "company.thebrowser.Browser", "org.example.recorder", "",
  };
  const std::uint8_t pick = in.u8();
  if (pick % 4 == 3) return text(in);
  std::string bundle = kBundles[pick % (sizeof kBundles / sizeof kBundles[0])];
  if (in.u8() % 3 == 0) bundle += text(in);
  return bundle;
}

std::optional<std::string> optionalText(ByteReader& in) {
  if (in.boolean()) return std::nullopt;
  return text(in);
}

std::optional<std::string> optionalBundle(ByteReader& in) {
  if (in.u8() % 5 == 0) return std::nullopt;
  return bundleText(in);
}

void shape(ByteReader& in, model::PropertyAnswer& answer, UInt32 maxAnnounced) {
  answer.sizeStatus = status(in);
  answer.dataStatus = status(in);
  answer.writes = in.u8() % 6 != 0;
  if (in.u8() % 4 == 0) answer.announcedSize = in.u8() % (maxAnnounced + 1);
}

model::PropertyAnswer number(ByteReader& in) {
  model::PropertyAnswer answer;
  answer.bytes.resize(in.u8() % 6);
  for (auto& b : answer.bytes) b = in.u8() % 3 == 0 ? in.u8() : 0;
  if (!answer.bytes.empty() && in.boolean()) answer.bytes[0] = 1;
  shape(in, answer, 8);
  return answer;
}

model::PropertyAnswer list(ByteReader& in) {
  std::vector<AudioObjectID> ids(in.u8() % 10);
  for (auto& id : ids) id = in.u8() % (kObjects + 1);
  model::PropertyAnswer answer = model::idList(ids);
  shape(in, answer, 47);
  return answer;
}

model::PropertyAnswer reference(ByteReader& in) {
  switch (in.u8() % 4) {
    case 0: return model::stringReference(bundleText(in));
    case 1: return model::nullReference();
    case 2: return model::failing(static_cast<OSStatus>(in.u32() | 1));
    default: return model::notWritten(8);
  }
}

model::PropertyAnswer configuration(ByteReader& in) {
  model::PropertyAnswer answer;
  switch (in.u8() % 4) {
    case 0: {
      std::vector<UInt32> channels(in.u8() % 5);
      for (auto& c : channels) c = in.u8() % 3 == 0 ? in.u32() : in.u8() % 3;
      answer = model::bufferList(channels);
      break;
    }
    case 1: {
      // A block whose count says anything at all.
      const std::string raw = in.bytes(in.u8() % 80);
      answer.bytes.assign(raw.begin(), raw.end());
      break;
    }
    case 2: answer = model::idList({}); break;
    default: answer = model::notWritten(in.u8() % 64); return answer;
  }
  shape(in, answer, 255);
  return answer;
}

AXError axStatus(ByteReader& in) { return in.u8() % 5 == 0 ? kAXErrorCannotComplete : kAXErrorSuccess; }

model::ValueKind kind(ByteReader& in) {
  switch (in.u8() % 6) {
    case 0: return model::ValueKind::null;
    case 1: return model::ValueKind::otherType;
    default: return model::ValueKind::expected;
  }
}


}  // namespace

model::Scene sceneFromBytes(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  model::Scene scene;
  const model::OperatingSystemVersion versions[] = {{14, 2, 0}, {15, 3, 1}, {14, 0, 0}, {14, 1, 9}, {13, 7, 0}};
  scene.version = versions[in.u8() % 5];
  scene.trusted = in.boolean();

  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, list(in));
  for (AudioObjectID id = 0; id < kObjects; ++id) {
    if (!in.boolean()) continue;
    model::setGlobal(scene, id, kAudioProcessPropertyIsRunningInput, number(in));
    model::PropertyAnswer pidAnswer = number(in);
    if (in.boolean()) {
      const pid_t value = pid(in);
      pidAnswer.bytes.resize(sizeof value);
      std::memcpy(pidAnswer.bytes.data(), &value, sizeof value);
    }
    model::setGlobal(scene, id, kAudioProcessPropertyPID, pidAnswer);
    model::setGlobal(scene, id, kAudioProcessPropertyBundleID, reference(in));
  }

  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyDevices, list(in));
  for (AudioObjectID id = 0; id < kObjects; ++id) {
    if (!in.boolean()) continue;
    model::setProperty(scene, id, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
                       configuration(in));
    model::setGlobal(scene, id, kAudioDevicePropertyDeviceIsRunningSomewhere, number(in));
  }

  for (const pid_t p : kPids) {
    if (in.boolean()) scene.registry[p] = model::Application{p, optionalBundle(in), optionalText(in)};
  }
  for (int n = in.u8() % 6; n > 0; --n) scene.workspace.push_back(model::Application{pid(in), optionalBundle(in), optionalText(in)});
  for (const pid_t p : kPids) {
    if (!in.boolean()) continue;
    model::ApplicationElement& element = scene.elements[p];
    element.windowsStatus = axStatus(in);
    element.windowsKind = kind(in);
    for (int n = in.u8() % 16; n > 0; --n) element.windows.push_back(model::Window{axStatus(in), kind(in), text(in)});
  }
  return scene;
}
