#include "platform/linux/sound/alsa_captures.h"

#include <dirent.h>

#include <charconv>
#include <vector>

#include "platform/linux/system_root.h"

namespace linux_source {
namespace {

std::vector<std::string> entriesStartingWith(const std::string& root, const std::string& directory,
                                             const std::string& prefix) {
  std::vector<std::string> names;
  const auto full = pathInside(root, directory);
  if (!full) return names;
  DIR* dir = ::opendir(full->c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

bool isSoundServer(const std::string& command) {
  for (const char* server : {"pulseaudio", "pipewire", "pipewire-pulse", "wireplumber", "jackd", "jackdbus"})
    if (command == server) return true;
  return false;
}

// "state: RUNNING" and the owner's pid from a substream's status file.
bool runningOutsideServer(const std::string& root, const std::string& status) {
  if (status.rfind("state: RUNNING", 0) != 0) return false;
  const std::string key = "owner_pid";
  const std::size_t at = status.find(key);
  if (at == std::string::npos) return true;
  std::size_t digits = status.find_first_of("0123456789", at);
  if (digits == std::string::npos) return true;
  pid_t owner = 0;
  std::from_chars(status.data() + digits, status.data() + status.size(), owner);
  const auto command = commandName(root, owner);
  return !(command && isSoundServer(*command));
}

}  // namespace

std::size_t capturesOutsideSoundServer(const std::string& root) {
  const std::string asound = "/proc/asound";
  std::size_t running = 0;
  for (const std::string& card : entriesStartingWith(root, asound, "card")) {
    for (const std::string& pcm : entriesStartingWith(root, asound + "/" + card, "pcm")) {
      if (pcm.empty() || pcm.back() != 'c') continue;  // capture devices end in "c"
      for (const std::string& sub : entriesStartingWith(root, asound + "/" + card + "/" + pcm, "sub")) {
        const auto status = readFile(root, "/proc/asound/" + card + "/" + pcm + "/" + sub + "/status", 4096);
        if (status && runningOutsideServer(root, *status)) ++running;
      }
    }
  }
  return running;
}

}  // namespace linux_source
