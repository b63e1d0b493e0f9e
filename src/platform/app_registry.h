// The running-application registry (AppKit's NSRunningApplication and
// NSWorkspace), as plain C++ for the probes.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// One running application. Owns its platform reference and lets it go when
// the probe is done with it.
class RunningApplication {
 public:
  explicit RunningApplication(const void* ownedRef) : ref_(ownedRef) {}
  RunningApplication(RunningApplication&& other) noexcept : ref_(other.ref_) { other.ref_ = nullptr; }
  RunningApplication& operator=(RunningApplication&&) = delete;
  RunningApplication(const RunningApplication&) = delete;
  RunningApplication& operator=(const RunningApplication&) = delete;
  ~RunningApplication();

  // Null texts of the platform come back empty.
  std::string bundleIdentifier() const;
  std::string localizedName() const;
  pid_t processIdentifier() const;

 private:
  const void* ref_;
};

// runningApplicationWithProcessIdentifier:, nothing when no application has that pid.
std::optional<RunningApplication> runningApplicationWithProcessIdentifier(pid_t pid);

// [[NSWorkspace sharedWorkspace] runningApplications], in the platform's order.
std::vector<RunningApplication> runningApplications();
