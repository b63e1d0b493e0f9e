// The Accessibility interface, answered from the scene.
#include <string>

#include "platform/model/accessibility_names.h"
#include "platform/model/model.h"
#include "platform/model/objects.h"
#include "platform/model/source.h"

const CFStringRef kAXWindowsAttribute = reinterpret_cast<CFStringRef>(model::constantString("AXWindows"));
const CFStringRef kAXTitleAttribute = reinterpret_cast<CFStringRef>(model::constantString("AXTitle"));

namespace {

using model::Object;
using model::ObjectKind;
using model::ValueKind;

std::string elementName(const Object& element) {
  if (element.kind == ObjectKind::applicationElement) return "app " + std::to_string(element.pid);
  return "window " + std::to_string(element.pid) + " '" + element.window.title + "'";
}

// What a value of the wrong type looks like: a string where a list was
// expected, an empty list where a string was.
const Object* otherTypeThan(ObjectKind expected) {
  if (expected == ObjectKind::array) return model::createObject(model::stringObject("not a list"));
  return model::createObject(model::arrayObject());
}

AXError copyWindows(const Object& application, CFTypeRef* value) {
  model::activeSource().refresh(model::scene(), model::Moment::windows, application.pid);
  const auto& elements = model::scene().elements;
  auto found = elements.find(application.pid);
  if (found == elements.end()) return kAXErrorCannotComplete;
  const model::ApplicationElement& scripted = found->second;
  if (scripted.windowsStatus != kAXErrorSuccess) return scripted.windowsStatus;
  if (scripted.windowsKind == ValueKind::null) return kAXErrorSuccess;
  if (scripted.windowsKind == ValueKind::otherType) {
    *value = otherTypeThan(ObjectKind::array);
    return kAXErrorSuccess;
  }
  Object list = model::arrayObject(application.pid);
  for (const model::Window& window : scripted.windows)
    list.members.push_back(model::createMember(model::elementObject(ObjectKind::windowElement, application.pid, window)));
  *value = model::createObject(std::move(list));
  return kAXErrorSuccess;
}

AXError copyTitle(const Object& window, CFTypeRef* value) {
  const model::Window& scripted = window.window;
  if (scripted.titleStatus != kAXErrorSuccess) return scripted.titleStatus;
  if (scripted.titleKind == ValueKind::null) return kAXErrorSuccess;
  if (scripted.titleKind == ValueKind::otherType) {
    *value = otherTypeThan(ObjectKind::string);
    return kAXErrorSuccess;
  }
  *value = model::createObject(model::stringObject(scripted.title));
  return kAXErrorSuccess;
}

}  // namespace

Boolean AXIsProcessTrusted() {
  model::record("AXIsProcessTrusted");
  model::activeSource().refresh(model::scene(), model::Moment::trust, -1);
  return model::scene().trusted ? 1 : 0;
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  model::record("AXUIElementCreateApplication(" + std::to_string(pid) + ")");
  return reinterpret_cast<AXUIElementRef>(
      model::createObject(model::elementObject(ObjectKind::applicationElement, pid)));
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef* value) {
  const Object* target = model::liveObject(element, "AXUIElementCopyAttributeValue");
  const Object* name = model::liveObject(attribute, "AXUIElementCopyAttributeValue attribute");
  if (value == nullptr) {
    model::noteMisuse("AXUIElementCopyAttributeValue without a place for the value");
    return kAXErrorFailure;
  }
  if (*value != nullptr) model::noteMisuse("AXUIElementCopyAttributeValue into a place that is not null");
  if (target == nullptr || name == nullptr || name->kind != ObjectKind::string) return kAXErrorFailure;
  if (model::recording()) model::record("AXUIElementCopyAttributeValue(" + elementName(*target) + ", " + name->text + ")");
  if (name->text == "AXWindows" && target->kind == ObjectKind::applicationElement) return copyWindows(*target, value);
  if (name->text == "AXTitle" && target->kind == ObjectKind::windowElement) return copyTitle(*target, value);
  return kAXErrorAttributeUnsupported;
}
