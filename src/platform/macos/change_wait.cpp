// The wait on a Mac. CoreAudio calls the property listeners on a thread of
// its own; all that happens there is a byte written to a pipe, which the
// program's one thread waits on, as it would sleep, until the timer.
#include "platform/change_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

struct WakePipe {
  int readEnd = -1;
  int writeEnd = -1;
  std::atomic<bool> pending{false};

  WakePipe() {
    int ends[2];
    if (::pipe(ends) != 0) return;
    for (const int end : ends) {
      ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
      ::fcntl(end, F_SETFD, FD_CLOEXEC);
    }
    readEnd = ends[0];
    writeEnd = ends[1];
  }
};

WakePipe& wakePipe() {
  static WakePipe pipe;
  return pipe;
}

void drain(int end) {
  char bytes[64];
  while (::read(end, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

void wakeForChange() {
  WakePipe& pipe = wakePipe();
  // One byte wakes the waiter; more would only be read and thrown away.
  if (pipe.pending.exchange(true) || pipe.writeEnd < 0) return;
  const char byte = 1;
  (void)!::write(pipe.writeEnd, &byte, 1);
}

bool waitForChange(double seconds) {
  WakePipe& pipe = wakePipe();
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                            std::chrono::duration<double>(seconds));
  while (!pipe.pending.load()) {
    const double left = std::chrono::duration<double, std::milli>(until - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    if (pipe.readEnd < 0) {
      std::this_thread::sleep_until(until);  // without a pipe, only the timer
      break;
    }
    pollfd end{pipe.readEnd, POLLIN, 0};
    // A byte can come after its flag was taken: read, it no longer wakes the poll.
    if (::poll(&end, 1, static_cast<int>(std::ceil(left))) > 0) drain(pipe.readEnd);
  }
  if (pipe.readEnd >= 0) drain(pipe.readEnd);
  return pipe.pending.exchange(false);
}
