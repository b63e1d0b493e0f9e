#include "platform/linux/windows/flatpak_proxy.h"

#include <dirent.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <vector>

#include "platform/linux/identity/ini_text.h"
#include "platform/linux/identity/process_files.h"
#include "platform/linux/system_root.h"

namespace linux_source {
namespace {

constexpr const char* kProxy = "xdg-dbus-proxy";
constexpr const char* kSandbox = "bwrap";
// A .flatpak-info is a few hundred bytes.
constexpr std::size_t kLargestInfo = 64 * 1024;

std::string instanceOf(const std::string& root, pid_t pid) {
  const auto info = readFile(root, procPath(pid, "root/.flatpak-info"), kLargestInfo);
  return info ? iniValue(*info, "Instance", "instance-id") : std::string();
}

std::vector<pid_t> processes(const std::string& root) {
  std::vector<pid_t> pids;
  const auto proc = pathInside(root, "/proc");
  DIR* listing = proc ? ::opendir(proc->c_str()) : nullptr;
  if (listing == nullptr) return pids;
  while (const dirent* entry = ::readdir(listing)) {
    pid_t pid = 0;
    const char* name = entry->d_name;
    const char* end = name + std::char_traits<char>::length(name);
    const auto parsed = std::from_chars(name, end, pid);
    if (parsed.ec == std::errc() && parsed.ptr == end && pid > 0) pids.push_back(pid);
  }
  ::closedir(listing);
  std::sort(pids.begin(), pids.end());
  return pids;
}

}  // namespace

pid_t applicationBehindProxy(const std::string& root, pid_t pid) {
  if (baseName(executablePath(root, pid)) != kProxy) return pid;
  const std::string instance = instanceOf(root, pid);
  if (instance.empty()) return pid;
  std::map<pid_t, pid_t> parentOf;  // the instance's own processes
  for (const pid_t other : processes(root)) {
    if (other == pid || instanceOf(root, other) != instance) continue;
    const std::string program = baseName(executablePath(root, other));
    const auto stat = processStat(root, other);
    if (program == kProxy || program == kSandbox || !stat) continue;
    parentOf[other] = stat->parent;
  }
  for (const auto& [process, parent] : parentOf)
    if (parentOf.count(parent) == 0) return process;
  return pid;
}

}  // namespace linux_source
