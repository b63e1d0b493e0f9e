#include "platform/windows/identity/identity.h"

#include "platform/windows/sound/consent_entries.h"

namespace windows_source {
namespace {

struct Executable {
  std::string_view file;
  std::string_view bundle;
};

constexpr Executable kBrowserExecutables[] = {
    {"chrome.exe", "com.google.Chrome"},         {"msedge.exe", "com.microsoft.edgemac"},
    {"firefox.exe", "org.mozilla.firefox"},      {"brave.exe", "com.brave.Browser"},
    {"opera.exe", "com.operasoftware.Opera"},    {"vivaldi.exe", "com.vivaldi.Vivaldi"},
};

constexpr std::string_view kChromium = "org.chromium.Chromium";
constexpr std::string_view kArcPackage = "TheBrowserCompany.Arc_";

bool containsFolder(std::string_view path, std::string_view folder) {
  for (std::size_t at = 0; at + folder.size() <= path.size(); ++at)
    if (sameName(path.substr(at, folder.size()), folder)) return true;
  return false;
}

}  // namespace

std::string_view browserBundleForExecutable(std::string_view imagePath) {
  const std::string_view file = fileNameOf(imagePath);
  for (const Executable& browser : kBrowserExecutables) {
    if (!sameName(file, browser.file)) continue;
    // Chromium's own builds install a chrome.exe too, under a folder of its name.
    if (browser.bundle == "com.google.Chrome" && containsFolder(imagePath, "\\Chromium\\")) return kChromium;
    return browser.bundle;
  }
  if (sameName(file, "chromium.exe")) return kChromium;
  return {};
}

std::string_view browserBundleForPackage(std::string_view packageFamily) {
  if (packageFamily.size() >= kArcPackage.size() && sameName(packageFamily.substr(0, kArcPackage.size()), kArcPackage))
    return "company.thebrowser.Browser";
  return {};
}

Identity identityOf(const ProcessFacts& facts) {
  Identity identity;
  std::string_view browser = browserBundleForPackage(facts.packageFamily);
  if (browser.empty()) browser = browserBundleForExecutable(facts.imagePath);
  if (!browser.empty()) identity.bundleIdentifier = std::string(browser);
  else if (!facts.applicationId.empty()) identity.bundleIdentifier = facts.applicationId;
  else identity.bundleIdentifier = facts.packageFamily;
  identity.name = !facts.fileDescription.empty() ? facts.fileDescription : std::string(fileNameOf(facts.imagePath));
  return identity;
}

std::string bundleOfConsentKey(std::string_view key, bool packaged) {
  if (packaged) {
    const std::string_view browser = browserBundleForPackage(key);
    return std::string(browser.empty() ? key : browser);
  }
  return std::string(browserBundleForExecutable(executablePathOfKey(key)));
}

}  // namespace windows_source
