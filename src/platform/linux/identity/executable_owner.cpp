#include "platform/linux/identity/executable_owner.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/linux/identity/process_files.h"
#include "platform/linux/system_root.h"

namespace linux_source {
namespace {

bool rootsAlone(const std::string& full, bool followLink, bool goneIsFine = false) {
  struct stat info {};
  if ((followLink ? ::stat(full.c_str(), &info) : ::lstat(full.c_str(), &info)) != 0)
    return goneIsFine && errno == ENOENT;
  if (S_ISLNK(info.st_mode)) return false;
  return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool onlyRootCanReplace(const std::string& root, pid_t pid, const std::string& executable) {
  if (pid <= 0 || executable.size() < 2 || executable.front() != '/' || executable.back() == '/') return false;
  if (executable.find("/..") != std::string::npos || executable.find("//") != std::string::npos) return false;
  // Seen through the process's own root, so a sandbox's /usr is the sandbox's.
  const auto top = pathInside(root, procPath(pid, "root"));
  if (!top || !rootsAlone(*top, true)) return false;
  // Folders from the top down, so no link is ever followed out of them.
  for (std::size_t slash = executable.find('/', 1); slash != std::string::npos; slash = executable.find('/', slash + 1))
    if (!rootsAlone(*top + executable.substr(0, slash), false)) return false;
  // An executable replaced since it started (a browser upgraded while it
  // runs) is gone from its folder: only someone who may write the folder
  // removed it, so then the folders alone tell.
  return rootsAlone(*top + executable, false, true);
}

}  // namespace linux_source
