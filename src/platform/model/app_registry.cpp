// The running-application registry, answered from the scene.
#include "platform/app_registry.h"

#include <string>

#include "platform/model/corefoundation_names.h"
#include "platform/model/model.h"
#include "platform/model/objects.h"
#include "platform/model/source.h"

namespace {

using model::Object;
using model::ObjectKind;

const model::Application* applicationOf(const void* ref, const char* usedBy) {
  const Object* object = model::liveObject(ref, usedBy);
  if (object == nullptr || object->kind != ObjectKind::runningApplication) return nullptr;
  return &object->application;
}

RunningApplication handOut(const model::Application& application) {
  return RunningApplication(model::createObject(model::applicationObject(application)));
}

std::string pidText(const model::Application* application) {
  std::string text = "(";
  text += application == nullptr ? std::string("?") : std::to_string(application->pid);
  text += ')';
  return text;
}

}  // namespace

RunningApplication::~RunningApplication() {
  if (ref_ != nullptr) CFRelease(ref_);
}

std::string RunningApplication::bundleIdentifier() const {
  const model::Application* application = applicationOf(ref_, "bundleIdentifier");
  if (model::recording()) model::record("bundleIdentifier" + pidText(application));
  return application == nullptr ? std::string() : application->bundleIdentifier.value_or("");
}

std::string RunningApplication::localizedName() const {
  const model::Application* application = applicationOf(ref_, "localizedName");
  if (model::recording()) model::record("localizedName" + pidText(application));
  return application == nullptr ? std::string() : application->localizedName.value_or("");
}

pid_t RunningApplication::processIdentifier() const {
  const model::Application* application = applicationOf(ref_, "processIdentifier");
  if (model::recording()) model::record("processIdentifier" + pidText(application));
  return application == nullptr ? -1 : application->pid;
}

std::optional<RunningApplication> runningApplicationWithProcessIdentifier(pid_t pid) {
  if (model::recording()) model::record("runningApplicationWithProcessIdentifier:(" + std::to_string(pid) + ")");
  model::activeSource().refresh(model::scene(), model::Moment::applicationLookup, pid);
  const auto& registry = model::scene().registry;
  auto found = registry.find(pid);
  if (found == registry.end()) return std::nullopt;
  return handOut(found->second);
}

std::vector<RunningApplication> runningApplications() {
  model::record("runningApplications");
  model::activeSource().refresh(model::scene(), model::Moment::workspace, -1);
  std::vector<RunningApplication> applications;
  applications.reserve(model::scene().workspace.size());
  for (const model::Application& application : model::scene().workspace) applications.push_back(handOut(application));
  return applications;
}
