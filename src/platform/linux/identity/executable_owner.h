// Whether a process's executable could have been put there by the person
// whose programs the monitor watches. A name is all a browser's executable
// has to go by outside a sandbox, and any program can take a name; what a
// program of the user's cannot take is a place only root can write, where
// packages put browsers (/usr/lib, /opt, /snap).
#pragma once

#include <sys/types.h>

#include <string>

namespace linux_source {

// True when the executable (a path as the process sees its own root) and
// every folder above it up to that root are owned by root and writable by
// no group and no other user. A link, a file that cannot be looked at, or a
// folder anyone may write into (/tmp, even with its sticky bit) is false.
bool onlyRootCanReplace(const std::string& root, pid_t pid, const std::string& executable);

}  // namespace linux_source
