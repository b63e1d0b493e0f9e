#include "platform/linux/identity.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <map>

#include "platform/linux/browser_map.h"
#include "platform/linux/system_root.h"

namespace linux_source {
namespace {

std::string procPath(pid_t pid, const char* what) { return "/proc/" + std::to_string(pid) + "/" + what; }

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> lines(const std::string& text) {
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

// The executable's path, without the kernel's note on a replaced file.
std::string executable(const std::string& root, pid_t pid) {
  std::string path = readLink(root, procPath(pid, "exe")).value_or("");
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
    path.resize(path.size() - deleted.size());
  return path;
}

struct ProcessStat {
  std::string command;
  pid_t parent = 0;
};

// "PID (COMMAND) STATE PPID ...": the command may hold spaces and parentheses,
// so it ends at the last ")".
std::optional<ProcessStat> processStat(const std::string& root, pid_t pid) {
  const auto stat = readFile(root, procPath(pid, "stat"), 4096);
  if (!stat) return std::nullopt;
  const std::size_t open = stat->find('(');
  const std::size_t close = stat->rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  ProcessStat parsed;
  parsed.command = stat->substr(open + 1, close - open - 1);
  const std::size_t parent = stat->find_first_of("0123456789", close + 3);  // past ") S "
  if (parent != std::string::npos) std::from_chars(stat->data() + parent, stat->data() + stat->size(), parsed.parent);
  return parsed;
}

// A key of one group of an ini-style file (desktop entries, .flatpak-info).
std::string iniValue(const std::string& text, const std::string& group, const std::string& key) {
  bool inGroup = false;
  for (const std::string& line : lines(text)) {
    if (!line.empty() && line.front() == '[') {
      inGroup = line == "[" + group + "]";
      continue;
    }
    if (inGroup && line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

std::string flatpakId(const std::string& root, pid_t pid) {
  const auto info = readFile(root, procPath(pid, "root") + "/.flatpak-info", 65536);
  return info ? iniValue(*info, "Application", "name") : std::string();
}

// Paths of the process's control groups, leaf first within each line.
std::vector<std::vector<std::string>> cgroupPaths(const std::string& root, pid_t pid) {
  std::vector<std::vector<std::string>> paths;
  const auto cgroup = readFile(root, procPath(pid, "cgroup"), 65536);
  if (!cgroup) return paths;
  for (const std::string& line : lines(*cgroup)) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    std::vector<std::string> components;
    std::size_t start = second + 1;
    while (start < line.size()) {
      std::size_t end = line.find('/', start);
      if (end == std::string::npos) end = line.size();
      if (end > start) components.push_back(line.substr(start, end - start));
      start = end + 1;
    }
    std::reverse(components.begin(), components.end());
    paths.push_back(std::move(components));
  }
  return paths;
}

std::string snapName(const std::vector<std::vector<std::string>>& cgroups) {
  for (const auto& components : cgroups) {
    for (const std::string& unit : components) {
      if (unit.rfind("snap.", 0) != 0) continue;
      const std::size_t end = unit.find('.', 5);
      if (end != std::string::npos && end > 5) return unit.substr(5, end - 5);
    }
  }
  return {};
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// app-[<launcher>-]<ID>-<random>.scope or app-[<launcher>-]<ID>[@<n>].service
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

std::string unitId(const std::vector<std::vector<std::string>>& cgroups) {
  for (const auto& components : cgroups) {
    for (const std::string& unit : components) {
      std::string id = unitApplicationId(unit);
      if (!id.empty()) return id;
    }
  }
  return {};
}

struct DesktopEntry {
  std::string id;
  std::string name;
  std::vector<std::string> programs;  // base names of Exec's program and TryExec
};

// The program an Exec line starts, past "env" and its assignments.
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
      entry.name = iniValue(*text, "Desktop Entry", "Name");
      const std::string program = execProgram(iniValue(*text, "Desktop Entry", "Exec"));
      if (!program.empty()) entry.programs.push_back(program);
      const std::string tryExec = iniValue(*text, "Desktop Entry", "TryExec");
      if (!tryExec.empty()) entry.programs.push_back(baseName(tryExec));
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
    struct timespec modified {};
    std::chrono::steady_clock::time_point checked{};
    std::vector<DesktopEntry> entries;
  };
  static std::map<std::string, Cached> cache;
  const std::string directory = dataDir + "/applications";
  const std::string key = root + "\n" + directory;
  Cached& cached = cache[key];
  // Asked for once per holder; looked at again once a second at most.
  const auto now = std::chrono::steady_clock::now();
  if (cached.checked.time_since_epoch().count() != 0 && now - cached.checked < std::chrono::seconds(1))
    return cached.entries;
  cached.checked = now;
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

// The first entry, in data-directory order, whose ID is id (when id is given)
// or whose program is the executable's base name.
std::optional<DesktopEntry> desktopEntry(const IdentityPlaces& places, const std::string& id,
                                         const std::string& program) {
  for (const std::string& dataDir : places.dataDirs) {
    for (const DesktopEntry& entry : applicationsIn(places.root, dataDir)) {
      const bool match = id.empty()
                             ? std::find(entry.programs.begin(), entry.programs.end(), program) != entry.programs.end()
                             : entry.id == id;
      if (match) return entry;
    }
  }
  return std::nullopt;
}

}  // namespace

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

namespace {

std::optional<Identity> identifyRunning(pid_t pid, const std::string& program, const IdentityPlaces& places) {
  if (pid <= 0) return std::nullopt;
  const auto own = processStat(places.root, pid);
  if (!own) return std::nullopt;

  // A browser's helpers run the browser's own executable as its children.
  pid_t resolved = pid;
  ProcessStat resolvedStat = *own;
  for (int depth = 0; depth < 64 && !program.empty(); ++depth) {
    const pid_t parent = resolvedStat.parent;
    if (parent <= 1 || executable(places.root, parent) != program) break;
    const auto parentStat = processStat(places.root, parent);
    if (!parentStat) break;
    resolved = parent;
    resolvedStat = *parentStat;
  }

  std::string id = flatpakId(places.root, resolved);
  if (id.empty()) {
    const auto cgroups = cgroupPaths(places.root, resolved);
    id = snapName(cgroups);
    if (id.empty()) id = unitId(cgroups);
  }
  const std::string programName = baseName(program);
  std::optional<DesktopEntry> entry = desktopEntry(places, id, programName);
  if (id.empty() && entry) id = entry->id;
  // An ID with no entry of its own still takes its name from the entry that runs its program.
  if (!entry && !id.empty()) entry = desktopEntry(places, {}, programName);

  Identity identity;
  // With no ID at all, a browser is still known by its executable's name.
  const std::string_view browser = browserBundleFor(id.empty() ? programName : id);
  identity.bundleIdentifier = browser.empty() ? id : std::string(browser);
  identity.name = entry && !entry->name.empty() ? entry->name : resolvedStat.command;
  return identity;
}

}  // namespace

std::optional<Identity> identify(pid_t pid, const IdentityPlaces& places) {
  return identifyRunning(pid, executable(places.root, pid), places);
}

std::optional<Identity> identifyKnown(pid_t pid, const IdentityPlaces& places, KnownIdentities& known) {
  const std::string program = executable(places.root, pid);
  auto found = known.byPid.find(pid);
  if (found != known.byPid.end() && !program.empty() && found->second.executable == program)
    return found->second.identity;
  auto identity = identifyRunning(pid, program, places);
  if (!identity || program.empty()) {
    known.byPid.erase(pid);
    return identity;
  }
  if (known.byPid.size() >= 4096) known.byPid.clear();  // processes come and go; keep it bounded
  known.byPid[pid] = KnownIdentities::Known{program, *identity};
  return identity;
}

}  // namespace linux_source
