// What /proc tells of one process: its executable and its stat line.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

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

// The text after "Key:" on that line of a /proc status file, or empty.
std::string_view statusField(std::string_view status, std::string_view key);

// Whether the process is known, from one link, to be in the pid namespace
// of /proc itself, where its pid is its only one: true when it shares this
// monitor's namespace and the monitor has one pid. False when that cannot
// be told this way (another namespace, a link that cannot be read, a root
// other than "/"); the status file still tells then.
bool inProcNamespace(const std::string& root, pid_t pid);

// While a look is open, each process's executable and stat line are read at
// most once and answered from there, so that the questions one cycle asks
// about a pid (its stream's binary, its identity, its parent's executable)
// share one visit. The next look reads afresh: a process that execs between
// two looks is seen anew. Without an open look, or for another root, every
// question reads /proc. One look at a time.
class ProcessLook {
 public:
  explicit ProcessLook(std::string root);
  ~ProcessLook();
  ProcessLook(const ProcessLook&) = delete;
  ProcessLook& operator=(const ProcessLook&) = delete;
};

}  // namespace linux_source
