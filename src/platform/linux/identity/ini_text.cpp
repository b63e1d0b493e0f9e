#include "platform/linux/identity/ini_text.h"

namespace linux_source {

std::vector<std::string> textLines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string iniValue(const std::string& text, const std::string& group, const std::string& key) {
  bool inGroup = false;
  for (const std::string& line : textLines(text)) {
    if (!line.empty() && line.front() == '[') {
      inGroup = line == "[" + group + "]";
      continue;
    }
    if (inGroup && line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

}  // namespace linux_source
