// The ini-style text of desktop entries and of a Flatpak's .flatpak-info.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace linux_source {

// The lines of text, as views into it (valid while it is).
std::vector<std::string_view> textLines(std::string_view text);

// The value of each key in [group], in the order of keys; empty where a key
// is absent. The first line of a key counts. One pass over the text.
std::vector<std::string> iniValues(std::string_view text, std::string_view group,
                                   std::initializer_list<std::string_view> keys);

// The value of key in [group], or empty.
std::string iniValue(std::string_view text, std::string_view group, std::string_view key);

}  // namespace linux_source
