// The ini-style text of desktop entries and of a Flatpak's .flatpak-info.
#pragma once

#include <string>
#include <vector>

namespace linux_source {

std::vector<std::string> textLines(const std::string& text);

// The value of key in [group], or empty.
std::string iniValue(const std::string& text, const std::string& group, const std::string& key);

}  // namespace linux_source
