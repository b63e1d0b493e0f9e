// What the platform model answers from: a plain description of the machine.
// A test fixture writes it directly; the Linux source rewrites parts of it
// whenever a probe asks for a list.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/model/accessibility_names.h"
#include "platform/model/coreaudio_names.h"

namespace model {

// One HAL property. The size query reports announcedSize (or the size of
// bytes); the data query writes at most its capacity of bytes, or a freshly
// created string reference when newString is set.
struct PropertyAnswer {
  OSStatus sizeStatus = noErr;
  OSStatus dataStatus = noErr;
  bool writes = true;  // false: status 0 and nothing written
  std::vector<unsigned char> bytes;
  std::optional<UInt32> announcedSize;
  std::optional<std::string> newString;
};

PropertyAnswer uint32Value(UInt32 value);
PropertyAnswer int32Value(SInt32 value);
PropertyAnswer idList(const std::vector<AudioObjectID>& ids);
PropertyAnswer stringReference(std::string text);
PropertyAnswer nullReference();
PropertyAnswer failing(OSStatus status);
PropertyAnswer failingData(OSStatus status);
PropertyAnswer notWritten(UInt32 announcedSize);
// An AudioBufferList at the platform's layout, one buffer per channel count.
PropertyAnswer bufferList(const std::vector<UInt32>& channelsPerBuffer);

struct HalObject {
  std::map<std::pair<AudioObjectPropertySelector, AudioObjectPropertyScope>, PropertyAnswer> properties;
};

struct Application {
  pid_t pid = -1;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> localizedName;
};

// What an attribute query finds besides its status.
enum class ValueKind { expected, null, otherType };

struct Window {
  AXError titleStatus = kAXErrorSuccess;
  ValueKind titleKind = ValueKind::expected;
  std::string title;
};

struct ApplicationElement {
  AXError windowsStatus = kAXErrorSuccess;
  ValueKind windowsKind = ValueKind::expected;
  std::vector<Window> windows;
};

struct OperatingSystemVersion {
  int major = 14;
  int minor = 2;
  int patch = 0;
};

struct Scene {
  OperatingSystemVersion version;
  std::map<AudioObjectID, HalObject> hal;
  std::map<pid_t, Application> registry;  // runningApplicationWithProcessIdentifier:
  std::vector<Application> workspace;     // runningApplications, in the platform's order
  bool trusted = false;
  std::map<pid_t, ApplicationElement> elements;  // by the pid an element is created for
};

// Puts answer in place for a property of object.
void setProperty(Scene& scene, AudioObjectID object, AudioObjectPropertySelector selector,
                 AudioObjectPropertyScope scope, PropertyAnswer answer);
void setGlobal(Scene& scene, AudioObjectID object, AudioObjectPropertySelector selector, PropertyAnswer answer);

}  // namespace model
