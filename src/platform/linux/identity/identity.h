// Which application a Linux process belongs to: the answers the registry
// gives for its pid.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace linux_source {

struct Identity {
  std::string bundleIdentifier;  // empty when nothing names the application
  std::string name;              // the desktop entry's Name, else the command name
};

struct IdentityPlaces {
  std::string root = "/";              // every read goes below it
  std::vector<std::string> dataDirs;  // XDG data directories, as paths inside root
};

// Nothing when the process does not exist. The sandbox's own ID, else the
// application ID of the desktop's systemd unit, else a desktop entry that
// runs its executable; a known browser's names become its bundle identifier.
// A child with its parent's executable (a browser's helper) resolves as the
// parent does.
std::optional<Identity> identify(pid_t pid, const IdentityPlaces& places);

// Identities resolved before, each kept while its process runs the same
// executable: a process's sandbox, unit and desktop entry do not change
// while it runs, and looking them up is most of what a cycle would cost.
struct KnownIdentities {
  struct Known {
    std::string executable;
    Identity identity;
    std::uint64_t epoch = 0;  // when it was last seen to run that executable
  };
  std::map<pid_t, Known> byPid;
};

// identify(), answered from known when the process still runs the executable
// it ran when it was resolved. Within one epoch it is answered without a look
// at the process at all: the caller starts a new epoch whenever what named
// these pids has changed. (A process that execs or ends closes its
// connections, so its streams and windows go, and with them the epoch.)
std::optional<Identity> identifyKnown(pid_t pid, const IdentityPlaces& places, KnownIdentities& known,
                                      std::uint64_t epoch);

}  // namespace linux_source
