// The privacy consent store's microphone entries and the running processes
// they belong to. The store names executables and packages, never pids, and
// keeps entries of programs that have long ended: only an entry in use whose
// program runs names a holder, and never a process that merely shares its
// executable's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows/sound/capture_sessions.h"

namespace windows_source {

struct ConsentEntry {
  std::string key;        // a package family name, or an executable path with '#' for '\'
  bool packaged = false;  // false for the entries under NonPackaged
  bool inUse = false;     // a start and no stop since
};

// The executable path a NonPackaged key stands for.
std::string executablePathOfKey(std::string_view key);

// A value pair as stored: FILETIMEs, a stop of 0 while the program captures.
bool inUseFromTimes(std::optional<std::uint64_t> lastUsedStart, std::optional<std::uint64_t> lastUsedStop);

// A running process as far as an entry needs it: its image path (for
// executables) or package family (for packages), and its parent.
struct CandidateProcess {
  ProcessId pid = 0;
  ProcessId parent = 0;
  std::string imagePath;
  std::string packageFamily;
};

// What an in-use entry that runs names: one process, or none that can be told
// apart (pid unknown), with the name it goes by.
struct ConsentHolder {
  std::optional<ProcessId> pid;
  std::string entryKey;
  bool packaged = false;
};

// The holders the in-use entries name. An executable or package that runs in
// several processes names the one already holding a capture session, else the
// only one of them that none of the others started, else no pid at all.
std::vector<ConsentHolder> consentHolders(const std::vector<ConsentEntry>& entries,
                                          const std::vector<CandidateProcess>& running,
                                          const std::vector<ProcessId>& sessionHolders);

// The file name at the end of a Windows path.
std::string_view fileNameOf(std::string_view path);

// Windows compares names without regard to ASCII case.
bool sameName(std::string_view a, std::string_view b);

}  // namespace windows_source
