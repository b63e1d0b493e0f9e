// Pids as the host sees them. A process in a sandbox (Flatpak, bubblewrap,
// unshare) has a pid namespace of its own and tells its peers the pid it has
// there: a sound stream's application.process.id, a window's _NET_WM_PID.
// The kernel lists each process's pid in every namespace it belongs to
// (NSpid in /proc/PID/status, host first, innermost last).
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace linux_source {

// The process's pid in each namespace it belongs to, host first; empty when
// it cannot be read.
std::vector<pid_t> namespacePids(const std::string& root, pid_t hostPid);

// The other processes of hostPid's sandbox: those in its pid namespace,
// when that is not the host's. Empty for a process on the host.
std::vector<pid_t> sandboxMates(const std::string& root, pid_t hostPid);

// What else a peer says about the process that gave it a pid.
struct PidClues {
  std::string binary;  // application.process.binary: the executable's base name
  std::string appId;   // an application ID, compared with a sandbox's /.flatpak-info
  bool appIdVouched = false;  // the server read appId from the sandbox itself (a portal ID)
};

// Turns pids that processes tell of themselves into host pids. The process
// table is read at most once per translation and only when a pid is not
// plainly a host process's, so make one per listing.
class PidTranslation {
 public:
  explicit PidTranslation(std::string root) : root_(std::move(root)) {}

  // The host pid of the one process that calls itself seen and fits the
  // clues; nothing when no process, or more than one, does.
  std::optional<pid_t> hostPid(pid_t seen, const PidClues& clues);

 private:
  const std::multimap<pid_t, pid_t>& byInnermostPid();

  std::string root_;
  std::optional<std::multimap<pid_t, pid_t>> byInnermost_;  // innermost pid -> host pid
};

}  // namespace linux_source
