// Calls the application registry adapter once, built against GNUstep here,
// and checks that it answers and that its handles hold up.
#include <unistd.h>

#include <cstdio>

#include "platform/app_registry.h"
#include "platform/thread_sleep.h"

int main() {
  const std::vector<RunningApplication> running = runningApplications();
  std::size_t named = 0;
  for (const RunningApplication& application : running) {
    if (!application.bundleIdentifier().empty() || !application.localizedName().empty()) ++named;
    if (application.processIdentifier() < 0) {
      std::printf("an application with a negative pid\n");
      return 1;
    }
  }
  const auto self = runningApplicationWithProcessIdentifier(getpid());
  const auto none = runningApplicationWithProcessIdentifier(-1);
  if (self) std::printf("this process: '%s' '%s'\n", self->bundleIdentifier().c_str(), self->localizedName().c_str());
  sleepForTimeInterval(0.01);
  std::printf("running applications: %zu (%zu named); pid -1 found: %s\n", running.size(), named,
              none ? "yes" : "no");
  return 0;
}
