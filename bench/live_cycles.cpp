// The monitor's cycle against the running system, N times in a row without
// the sleep between cycles: the CPU time one steady cycle costs.
//   quorbel_live_cycles [N]   (default 300; one cycle first to connect)
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cycle/poll_cycle.h"

namespace {

// This process's own high-water mark: getrusage's would include the process
// it was forked from.
long peakResidentKiB() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  std::fclose(status);
  return kib;
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const long cycles = argc > 1 ? std::atol(argv[1]) : 300;
  std::size_t bytes = snapshotOfNow().size();  // connects to the servers
  const double start = cpuSeconds();
  for (long i = 0; i < cycles; ++i) bytes += snapshotOfNow().size();
  const double cpu = cpuSeconds() - start;
  std::printf("{\"cycles\":%ld,\"cpu_ms_per_cycle\":%.4f,\"peak_rss_kib\":%ld,\"line_bytes\":%zu}\n", cycles,
              cpu * 1000.0 / static_cast<double>(cycles), peakResidentKiB(),
              bytes / static_cast<std::size_t>(cycles + 1));
  return 0;
}
