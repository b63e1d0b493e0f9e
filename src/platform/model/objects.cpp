#include "platform/model/objects.h"

#include <cstdio>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/model/corefoundation_names.h"
#include "platform/model/model.h"

namespace model {
namespace {

struct State {
  Scene scene;
  bool recording = false;
  std::vector<std::string> calls;
  std::vector<std::string> misuses;
  // Live objects are freed when released, so that a program that runs for
  // weeks does not grow; a second release finds nothing and is counted.
  struct Entry {
    std::unique_ptr<Object> object;
    const Object* owner;  // an array's member is borrowed from its array
  };
  std::unordered_map<const Object*, Entry> live;
  std::size_t owned = 0;
  std::unordered_set<const Object*> constants;
  std::size_t badReleases = 0;
};

State& state() {
  static State s;
  return s;
}

constexpr CFTypeID kStringTypeID = 7;
constexpr CFTypeID kArrayTypeID = 19;
constexpr CFTypeID kElementTypeID = 43;
constexpr CFTypeID kApplicationTypeID = 44;

}  // namespace

Scene& scene() { return state().scene; }

void reset() {
  State& s = state();
  s.scene = Scene{};
  s.recording = true;
  s.calls.clear();
  s.misuses.clear();
  s.live.clear();
  s.owned = 0;
  s.badReleases = 0;
  forgetListeners();
  forgetWake();
}

void setRecording(bool on) { state().recording = on; }
bool recording() { return state().recording; }
const std::vector<std::string>& calls() { return state().calls; }
const std::vector<std::string>& misuses() { return state().misuses; }
std::size_t heldReferences() { return state().owned; }
std::size_t badReleases() { return state().badReleases; }

namespace {
std::function<void()>& callObserver() {
  static std::function<void()> observer;
  return observer;
}
}  // namespace

void setCallObserver(std::function<void()> observer) { callObserver() = std::move(observer); }

void record(std::string entry) {
  if (!state().recording) return;
  // What the observer notes is recorded without asking it again.
  static bool observing = false;
  if (callObserver() && !observing) {
    observing = true;
    callObserver()();
    observing = false;
  }
  state().calls.push_back(std::move(entry));
}
void noteCall(std::string entry) { record(std::move(entry)); }
void noteMisuse(std::string what) { state().misuses.push_back(std::move(what)); }

std::string fourCharCode(unsigned value) {
  std::string code = "'";
  for (int shift = 24; shift >= 0; shift -= 8) code += static_cast<char>((value >> shift) & 0xFF);
  return code + "'";
}

std::string describeCall(const char* call, AudioObjectID object, const AudioObjectPropertyAddress& address) {
  return std::string(call) + "(" + std::to_string(object) + ", " + fourCharCode(address.mSelector) + ", " +
         fourCharCode(address.mScope) + ")";
}

Object stringObject(std::string text) {
  Object object;
  object.text = std::move(text);
  return object;
}

Object arrayObject(pid_t pid) {
  Object object;
  object.kind = ObjectKind::array;
  object.pid = pid;
  return object;
}

Object elementObject(ObjectKind kind, pid_t pid, const Window& window) {
  Object object;
  object.kind = kind;
  object.pid = pid;
  object.window = window;
  return object;
}

Object applicationObject(const Application& application) {
  Object object;
  object.kind = ObjectKind::runningApplication;
  object.pid = application.pid;
  object.application = application;
  return object;
}

const Object* createObject(Object object) {
  State& s = state();
  auto made = std::make_unique<Object>(std::move(object));
  const Object* ref = made.get();
  for (const Object* member : ref->members) s.live.at(member).owner = ref;
  s.live.emplace(ref, State::Entry{std::move(made), nullptr});
  ++s.owned;
  return ref;
}

const Object* createMember(Object object) {
  State& s = state();
  auto made = std::make_unique<Object>(std::move(object));
  const Object* ref = made.get();
  // Owned by nobody until the array that takes it is made.
  s.live.emplace(ref, State::Entry{std::move(made), ref});
  return ref;
}

const Object* constantString(const char* text) {
  // Constants outlive every reset; they are made once and never freed.
  auto* object = new Object(stringObject(text));
  state().constants.insert(object);
  return object;
}

const Object* liveObject(const void* ref, const char* usedBy) {
  State& s = state();
  const auto* object = static_cast<const Object*>(ref);
  if (s.constants.count(object) != 0) return object;
  auto it = s.live.find(object);
  if (it != s.live.end()) return it->second.object.get();
  noteMisuse(std::string(usedBy) + " on a reference that is not live");
  return nullptr;
}

void releaseObject(const void* ref) {
  State& s = state();
  const auto* object = static_cast<const Object*>(ref);
  if (ref == nullptr) {
    noteMisuse("CFRelease(NULL)");
    return;
  }
  if (s.constants.count(object) != 0) return;  // releasing a literal is harmless, as on the platform
  auto it = s.live.find(object);
  if (it == s.live.end() || it->second.owner != nullptr) {
    ++s.badReleases;  // released twice, never handed out, or borrowed from an array
    return;
  }
  for (const Object* member : object->members) s.live.erase(member);
  s.live.erase(it);
  --s.owned;
}

}  // namespace model

using model::liveObject;
using model::Object;
using model::ObjectKind;

void CFRelease(CFTypeRef cf) { model::releaseObject(cf); }

CFTypeID CFGetTypeID(CFTypeRef cf) {
  const Object* object = liveObject(cf, "CFGetTypeID");
  if (object == nullptr) return 0;
  switch (object->kind) {
    case ObjectKind::string: return model::kStringTypeID;
    case ObjectKind::array: return model::kArrayTypeID;
    case ObjectKind::applicationElement:
    case ObjectKind::windowElement: return model::kElementTypeID;
    case ObjectKind::runningApplication: return model::kApplicationTypeID;
  }
  return 0;
}

CFTypeID CFArrayGetTypeID() { return model::kArrayTypeID; }
CFTypeID CFStringGetTypeID() { return model::kStringTypeID; }

CFIndex CFArrayGetCount(CFArrayRef theArray) {
  const Object* object = liveObject(theArray, "CFArrayGetCount");
  if (object == nullptr || object->kind != ObjectKind::array) return 0;
  return static_cast<CFIndex>(object->members.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  const Object* object = liveObject(theArray, "CFArrayGetValueAtIndex");
  if (object == nullptr || object->kind != ObjectKind::array) return nullptr;
  if (idx < 0 || static_cast<std::size_t>(idx) >= object->members.size()) {
    model::noteMisuse("CFArrayGetValueAtIndex out of range");
    return nullptr;
  }
  return object->members[static_cast<std::size_t>(idx)];
}

namespace {

// The model keeps texts as UTF-8 bytes (possibly malformed, as a hostile title
// may be); the platform measures strings in UTF-16 units. A valid sequence of
// four bytes is two units, every other lead byte or stray byte one.
CFIndex utf16Units(const std::string& bytes) {
  CFIndex units = 0;
  for (unsigned char c : bytes) {
    if ((c & 0xC0) != 0x80) units += (c >= 0xF0 && c <= 0xF4) ? 2 : 1;
  }
  return units;
}

const Object* stringObject(CFStringRef s, const char* usedBy) {
  const Object* object = liveObject(s, usedBy);
  if (object == nullptr || object->kind != ObjectKind::string) return nullptr;
  return object;
}

}  // namespace

CFIndex CFStringGetLength(CFStringRef theString) {
  const Object* object = stringObject(theString, "CFStringGetLength");
  return object == nullptr ? 0 : utf16Units(object->text);
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
  if (encoding != kCFStringEncodingUTF8) model::noteMisuse("CFStringGetMaximumSizeForEncoding: not UTF-8");
  return length * 3;
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding, UInt8 /*lossByte*/,
                         Boolean isExternalRepresentation, UInt8* buffer, CFIndex maxBufLen, CFIndex* usedBufLen) {
  const Object* object = stringObject(theString, "CFStringGetBytes");
  if (usedBufLen != nullptr) *usedBufLen = 0;
  if (object == nullptr) return 0;
  if (encoding != kCFStringEncodingUTF8) model::noteMisuse("CFStringGetBytes: not UTF-8");
  if (isExternalRepresentation) model::noteMisuse("CFStringGetBytes: external representation");
  const CFIndex units = utf16Units(object->text);
  if (range.location != 0 || range.length != units) model::noteMisuse("CFStringGetBytes: not the whole string");
  // Like the platform, stop at a character that does not fit, never inside one.
  const std::string& text = object->text;
  std::size_t used = 0;
  while (used < text.size()) {
    std::size_t next = used + 1;
    while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) ++next;
    if (buffer != nullptr && static_cast<CFIndex>(next) > maxBufLen) break;
    used = next;
  }
  if (buffer != nullptr) std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(used), buffer);
  if (usedBufLen != nullptr) *usedBufLen = static_cast<CFIndex>(used);
  return units;  // characters converted: all of them when the buffer was large enough
}
