#include "platform/linux/identity/ini_text.h"

#include <utility>

namespace linux_source {

std::vector<std::string_view> textLines(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::vector<std::string> iniValues(std::string_view text, std::string_view group,
                                   std::initializer_list<std::string_view> keys) {
  std::vector<std::string> values(keys.size());
  std::vector<bool> found(keys.size(), false);
  std::size_t left = keys.size();
  bool inGroup = false;
  std::size_t start = 0;
  while (start < text.size() && left > 0) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.front() == '[') {
      inGroup = line.size() == group.size() + 2 && line.back() == ']' && line.substr(1, group.size()) == group;
      continue;
    }
    if (!inGroup) continue;
    std::size_t i = 0;
    for (const std::string_view key : keys) {
      if (!found[i] && line.size() > key.size() && line[key.size()] == '=' && line.substr(0, key.size()) == key) {
        values[i] = line.substr(key.size() + 1);
        found[i] = true;
        --left;
      }
      ++i;
    }
  }
  return values;
}

std::string iniValue(std::string_view text, std::string_view group, std::string_view key) {
  return std::move(iniValues(text, group, {key}).front());
}

}  // namespace linux_source
