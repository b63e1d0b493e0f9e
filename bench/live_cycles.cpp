// The monitor's cycle against the running system, N times, with a pause
// between cycles: the CPU time one steady cycle costs. The pause is shorter
// than the monitor's two seconds but long enough that no cycle is answered
// from what the cycle before it asked (the sources keep a listing for a
// quarter of a second, so that the questions of one cycle share it).
//   quorbel_live_cycles [N] [PAUSE_MS]   (default 100 cycles, 300 ms; one cycle first to connect)
#include <time.h>

#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

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
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  const long cycles = argc > 1 ? std::atol(argv[1]) : 100;
  const auto pause = std::chrono::milliseconds(argc > 2 ? std::atol(argv[2]) : 300);
  std::size_t bytes = snapshotOfNow().size();  // connects to the servers
  double cpu = 0;
  for (long i = 0; i < cycles; ++i) {
    std::this_thread::sleep_for(pause);
    const double start = cpuSeconds();
    bytes += snapshotOfNow().size();
    cpu += cpuSeconds() - start;
  }
  std::printf("{\"cycles\":%ld,\"cpu_ms_per_cycle\":%.4f,\"peak_rss_kib\":%ld,\"line_bytes\":%zu}\n", cycles,
              cpu * 1000.0 / static_cast<double>(cycles), peakResidentKiB(),
              bytes / static_cast<std::size_t>(cycles + 1));
  return 0;
}
