// What /proc tells of one process: its executable and its stat line.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace linux_source {

std::string procPath(pid_t pid, const char* what);
std::string baseName(const std::string& path);

// The executable's path, without the kernel's note on a replaced file; empty
// when it cannot be read.
std::string executablePath(const std::string& root, pid_t pid);

struct ProcessStat {
  std::string command;
  pid_t parent = 0;
};

std::optional<ProcessStat> processStat(const std::string& root, pid_t pid);

}  // namespace linux_source
