// The desktop entries (*.desktop) of the XDG data directories: an
// application's ID, its name, and the programs it runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace linux_source {

struct DesktopEntry {
  std::string id;
  std::string name;
  std::vector<std::string> programs;  // base names of Exec's program and TryExec
};

// The XDG data directories of this session ($XDG_DATA_HOME, $XDG_DATA_DIRS).
std::vector<std::string> sessionDataDirs();

// The first entry, in data-directory order, whose ID is id (when id is given)
// or whose program is the executable's base name. Directories are paths
// inside root.
std::optional<DesktopEntry> desktopEntry(const std::string& root, const std::vector<std::string>& dataDirs,
                                         const std::string& id, const std::string& program);

// The program an Exec line starts, past "env" and its assignments.
std::string execProgram(const std::string& exec);

}  // namespace linux_source
