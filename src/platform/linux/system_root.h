// Every file the Linux source reads is read below one root directory, "/" in
// the program and a fixture tree in tests.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace linux_source {

// The whole file, or nothing when it cannot be read (gone, unreadable, not a
// file). Reads at most maxBytes, which bounds what a hostile file can cost.
std::optional<std::string> readFile(const std::string& root, const std::string& path,
                                    std::size_t maxBytes = 1 << 20);

// The path of a file inside root as the system sees it, or nothing when a
// link leads out of a root other than "/" (or, there, when it does not exist).
std::optional<std::string> pathInside(const std::string& root, const std::string& path);

// The target of a symbolic link (not followed), or nothing.
std::optional<std::string> readLink(const std::string& root, const std::string& path);

// The process's command name (/proc/PID/comm without its line feed).
std::optional<std::string> commandName(const std::string& root, pid_t pid);

}  // namespace linux_source
