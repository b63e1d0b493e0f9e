// CoreAudio property listeners on what the audio probes ask about, so that a
// change wakes the waiting loop at once: the device list and each input
// device's running-somewhere flag, and from macOS 14.2 on, the process-object
// list and each process's running-input flag.
#pragma once

#include <set>
#include <utility>

#include "platform/coreaudio.h"

class ChangeListeners {
 public:
  ChangeListeners() = default;
  ~ChangeListeners();  // every listener removed
  ChangeListeners(const ChangeListeners&) = delete;
  ChangeListeners& operator=(const ChangeListeners&) = delete;

  // Listeners on the objects there are now, and none left on an object that
  // has gone. A list that cannot be read keeps the listeners it had.
  void follow();

 private:
  using Key = std::pair<AudioObjectID, AudioObjectPropertySelector>;
  void wantEach(AudioObjectPropertySelector list, AudioObjectPropertySelector property, bool inputOnly,
                std::set<Key>& wanted) const;

  std::set<Key> registered_;
};
