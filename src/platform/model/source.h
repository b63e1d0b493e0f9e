// Who keeps the scene current. Tests link a source that leaves their script
// alone; the Linux program links one that reads the running system.
#pragma once

#include <sys/types.h>

#include <chrono>

#include "platform/model/scene.h"

namespace model {

// The moments at which the platform's answer could differ from the last one.
enum class Moment {
  processList,        // the size query of the process-object list
  deviceList,         // the size query of the device list
  workspace,          // runningApplications
  applicationLookup,  // runningApplicationWithProcessIdentifier:, for pid
  trust,              // AXIsProcessTrusted
  windows,            // "AXWindows" of the application element for pid
};

class Source {
 public:
  virtual ~Source() = default;
  virtual void refresh(Scene& scene, Moment moment, pid_t pid) = 0;
  // Waits until the system tells of a change that may alter the answers, or
  // until the time; true for a change.
  virtual bool waitForChange(std::chrono::steady_clock::time_point until) = 0;
};

// Defined by the source the program links.
Source& activeSource();

}  // namespace model
