#include "windows/titles.h"

#include <algorithm>

#include "platform/accessibility.h"
#include "platform/app_registry.h"
#include "platform/cf_ref.h"
#include "platform/cf_text.h"
#include "windows/browsers.h"

namespace {

constexpr std::size_t kApplications = 2;
constexpr CFIndex kWindowsPerApplication = 12;

bool isCandidate(const std::string& identifier, std::string_view bundle, std::string_view family) {
  if (identifier == bundle) return true;
  return identifier.compare(0, family.size(), family) == 0 && identifier.find("helper") == std::string::npos;
}

// The copied value of an attribute, whatever the status; null when none came.
CFOwned<CFTypeRef> copyAttribute(AXUIElementRef element, CFStringRef attribute, AXError& status) {
  CFTypeRef value = nullptr;
  status = AXUIElementCopyAttributeValue(element, attribute, &value);
  return ownCF(value);
}

void appendTitle(AXUIElementRef window, std::vector<std::string>& out) {
  AXError status = kAXErrorSuccess;
  const auto title = copyAttribute(window, kAXTitleAttribute, status);
  if (status != kAXErrorSuccess || !title || CFGetTypeID(title.get()) != CFStringGetTypeID()) return;
  std::string text = textOf(static_cast<CFStringRef>(title.get()));
  if (!text.empty()) out.push_back(std::move(text));
}

void appendWindowTitles(pid_t pid, std::vector<std::string>& out) {
  const auto application = ownCF(AXUIElementCreateApplication(pid));
  AXError status = kAXErrorSuccess;
  const auto windows = copyAttribute(application.get(), kAXWindowsAttribute, status);
  if (status != kAXErrorSuccess || !windows || CFGetTypeID(windows.get()) != CFArrayGetTypeID()) return;
  const auto list = static_cast<CFArrayRef>(windows.get());
  const CFIndex count = std::min(CFArrayGetCount(list), kWindowsPerApplication);
  for (CFIndex i = 0; i < count; ++i) {
    // Borrowed from the list, which is released after its last window is read.
    appendTitle(static_cast<AXUIElementRef>(CFArrayGetValueAtIndex(list, i)), out);
  }
}

}  // namespace

std::vector<std::string> titles(std::string_view forBundle) {
  std::vector<std::string> out;
  if (!AXIsProcessTrusted()) return out;
  const std::string family = bundleFamily(forBundle);
  const std::vector<RunningApplication> running = runningApplications();
  // Selection walks the whole list before any window is asked for; exact
  // matches keep their place among the family matches.
  std::vector<const RunningApplication*> candidates;
  for (const RunningApplication& application : running) {
    if (isCandidate(application.bundleIdentifier(), forBundle, family)) candidates.push_back(&application);
  }
  const std::size_t read = std::min(candidates.size(), kApplications);
  for (std::size_t i = 0; i < read; ++i) appendWindowTitles(candidates[i]->processIdentifier(), out);
  return out;
}
