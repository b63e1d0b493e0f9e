#include "platform/linux/identity/desktop_entries.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <utility>

#include "platform/linux/identity/ini_text.h"
#include "platform/linux/identity/process_files.h"
#include "platform/linux/system_root.h"

namespace linux_source {
namespace {

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void scanApplications(const std::string& root, const std::string& directory, const std::string& prefix,
                      std::vector<DesktopEntry>& out, int depth) {
  const auto full = pathInside(root, directory);
  if (!full) return;
  DIR* dir = ::opendir(full->c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = directory + "/" + name;
    if (endsWith(name, ".desktop")) {
      const auto text = readFile(root, path, 65536);
      if (!text) continue;
      DesktopEntry entry;
      entry.id = prefix + name.substr(0, name.size() - 8);
      std::vector<std::string> values = iniValues(*text, "Desktop Entry", {"Name", "Exec", "TryExec"});
      entry.name = std::move(values[0]);
      const std::string program = execProgram(values[1]);
      if (!program.empty()) entry.programs.push_back(program);
      if (!values[2].empty()) entry.programs.push_back(baseName(values[2]));
      out.push_back(std::move(entry));
    } else if (depth < 4) {
      struct stat info {};
      const auto inside = pathInside(root, path);
      if (inside && ::stat(inside->c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        scanApplications(root, path, prefix + name + "-", out, depth + 1);
    }
  }
}

// Desktop entries of a data directory, read again only when it changes.
const std::vector<DesktopEntry>& applicationsIn(const std::string& root, const std::string& dataDir) {
  struct Cached {
    std::string root;  // the entries of one root at a time
    struct timespec modified {};
    std::chrono::steady_clock::time_point checked{};
    std::vector<DesktopEntry> entries;
  };
  static std::map<std::string, Cached> cache;  // by data directory
  auto found = cache.find(dataDir);
  if (found == cache.end()) found = cache.emplace(dataDir, Cached{}).first;
  Cached& cached = found->second;
  if (cached.root != root) cached = Cached{root, {}, {}, {}};
  // Asked for once per holder; looked at again once a second at most.
  const auto now = std::chrono::steady_clock::now();
  if (cached.checked.time_since_epoch().count() != 0 && now - cached.checked < std::chrono::seconds(1))
    return cached.entries;
  cached.checked = now;
  const std::string directory = dataDir + "/applications";
  struct stat info {};
  const auto inside = pathInside(root, directory);
  const bool exists = inside && ::stat(inside->c_str(), &info) == 0;
  if (!exists) {
    cached.entries.clear();
    cached.modified = {};
  } else if (cached.modified.tv_sec != info.st_mtim.tv_sec || cached.modified.tv_nsec != info.st_mtim.tv_nsec ||
             cached.entries.empty()) {
    cached.modified = info.st_mtim;
    cached.entries.clear();
    scanApplications(root, directory, "", cached.entries, 0);
  }
  return cached.entries;
}

}  // namespace

std::string execProgram(const std::string& exec) {
  std::size_t at = 0;
  while (at < exec.size()) {
    while (at < exec.size() && exec[at] == ' ') ++at;
    std::string token;
    if (at < exec.size() && exec[at] == '"') {
      const std::size_t close = exec.find('"', at + 1);
      token = exec.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
      at = close == std::string::npos ? exec.size() : close + 1;
    } else {
      const std::size_t end = std::min(exec.find(' ', at), exec.size());
      token = exec.substr(at, end - at);
      at = end;
    }
    if (token.empty()) continue;
    if (token == "env" || (token.find('=') != std::string::npos && token.find('/') == std::string::npos)) continue;
    return baseName(token);
  }
  return {};
}

std::optional<DesktopEntry> desktopEntry(const std::string& root, const std::vector<std::string>& dataDirs,
                                         const std::string& id, const std::string& program) {
  for (const std::string& dataDir : dataDirs) {
    for (const DesktopEntry& entry : applicationsIn(root, dataDir)) {
      const bool match = id.empty()
                             ? std::find(entry.programs.begin(), entry.programs.end(), program) != entry.programs.end()
                             : entry.id == id;
      if (match) return entry;
    }
  }
  return std::nullopt;
}

std::vector<std::string> sessionDataDirs() {
  std::vector<std::string> dirs;
  const char* home = std::getenv("XDG_DATA_HOME");
  const char* user = std::getenv("HOME");
  if (home != nullptr && *home == '/') dirs.emplace_back(home);
  else if (user != nullptr && *user == '/') dirs.push_back(std::string(user) + "/.local/share");
  const char* system = std::getenv("XDG_DATA_DIRS");
  std::string list = (system != nullptr && *system != '\0') ? system : "/usr/local/share:/usr/share";
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(':', start), list.size());
    const std::string dir = list.substr(start, end - start);
    if (!dir.empty() && dir.front() == '/') dirs.push_back(dir);
    start = end + 1;
  }
  return dirs;
}

}  // namespace linux_source
