// Who a Windows process is, from the facts its image and package give: the
// browsers by the identifiers they carry on every other system, packaged apps
// by their application ID, the name from the version resource.
#pragma once

#include <string>
#include <string_view>

namespace windows_source {

struct ProcessFacts {
  std::string imagePath;        // QueryFullProcessImageNameW
  std::string fileDescription;  // the version resource's FileDescription
  std::string packageFamily;    // packaged apps only
  std::string applicationId;    // the application user model ID, packaged apps only
};

struct Identity {
  std::string bundleIdentifier;
  std::string name;
};

// The browser identifier for an executable (chrome.exe and its child
// processes alike) or a package family, or nothing.
std::string_view browserBundleForExecutable(std::string_view imagePath);
std::string_view browserBundleForPackage(std::string_view packageFamily);

Identity identityOf(const ProcessFacts& facts);

// The identifier a consent-store entry stands for while no pid is known.
std::string bundleOfConsentKey(std::string_view key, bool packaged);

}  // namespace windows_source
