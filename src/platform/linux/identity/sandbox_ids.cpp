#include "platform/linux/identity/sandbox_ids.h"

#include <algorithm>
#include <charconv>

#include "platform/linux/identity/ini_text.h"
#include "platform/linux/identity/process_files.h"
#include "platform/linux/system_root.h"

namespace linux_source {
namespace {

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string unitApplicationId(const std::string& unit) {
  if (unit.rfind("app-", 0) != 0) return {};
  std::string body;
  if (endsWith(unit, ".scope")) {
    body = unit.substr(4, unit.size() - 4 - 6);
    const std::size_t random = body.rfind('-');
    if (random == std::string::npos) return {};
    body.resize(random);
  } else if (endsWith(unit, ".service")) {
    body = unit.substr(4, unit.size() - 4 - 8);
    const std::size_t instance = body.find('@');
    if (instance != std::string::npos) body.resize(instance);
  } else {
    return {};
  }
  // A dash in an application ID is escaped, so a raw one ends the launcher.
  const std::size_t launcher = body.find('-');
  if (launcher != std::string::npos) body = body.substr(launcher + 1);
  return unescapeUnitName(body);
}

}  // namespace

std::string flatpakId(const std::string& root, pid_t pid) {
  const auto info = readFile(root, procPath(pid, "root") + "/.flatpak-info", 65536);
  return info ? iniValue(*info, "Application", "name") : std::string();
}

ControlGroups controlGroups(const std::string& root, pid_t pid) {
  ControlGroups paths;
  const auto cgroup = readFile(root, procPath(pid, "cgroup"), 65536);
  if (!cgroup) return paths;
  for (const std::string_view line : textLines(*cgroup)) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    std::vector<std::string> components;
    std::size_t start = second + 1;
    while (start < line.size()) {
      std::size_t end = line.find('/', start);
      if (end == std::string_view::npos) end = line.size();
      if (end > start) components.emplace_back(line.substr(start, end - start));
      start = end + 1;
    }
    std::reverse(components.begin(), components.end());
    paths.push_back(std::move(components));
  }
  return paths;
}

std::string snapName(const ControlGroups& groups) {
  for (const auto& components : groups) {
    for (const std::string& unit : components) {
      if (unit.rfind("snap.", 0) != 0) continue;
      const std::size_t end = unit.find('.', 5);
      if (end != std::string::npos && end > 5) return unit.substr(5, end - 5);
    }
  }
  return {};
}

std::string unitId(const ControlGroups& groups) {
  for (const auto& components : groups) {
    for (const std::string& unit : components) {
      std::string id = unitApplicationId(unit);
      if (!id.empty()) return id;
    }
  }
  return {};
}

std::string unescapeUnitName(const std::string& escaped) {
  std::string out;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '\\' && i + 3 < escaped.size() && escaped[i + 1] == 'x') {
      unsigned value = 0;
      const auto [end, error] = std::from_chars(escaped.data() + i + 2, escaped.data() + i + 4, value, 16);
      if (error == std::errc() && end == escaped.data() + i + 4) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += escaped[i];
  }
  return out;
}

}  // namespace linux_source
