// The IDs a desktop gives an application's processes: a Flatpak's or Snap's
// own, or the application ID in the name of the systemd unit it was
// launched in.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace linux_source {

// The Flatpak application ID from the sandbox's /.flatpak-info, or empty.
std::string flatpakId(const std::string& root, pid_t pid);

// The process's control-group paths, one per line of /proc/PID/cgroup, leaf first.
using ControlGroups = std::vector<std::vector<std::string>>;
ControlGroups controlGroups(const std::string& root, pid_t pid);

// A Snap's name (from snap.NAME.* units), or empty.
std::string snapName(const ControlGroups& groups);

// The application ID of app-[LAUNCHER-]ID-RANDOM.scope or
// app-[LAUNCHER-]ID[@N].service, or empty.
std::string unitId(const ControlGroups& groups);

// systemd's unescaping of unit names (\xNN).
std::string unescapeUnitName(const std::string& escaped);

}  // namespace linux_source
