// Talking to a server that has just gone can raise SIGPIPE in this thread,
// which would end the monitor, though only its own standard output closing
// should. While a guard lives, SIGPIPE is held back; one raised meanwhile is
// taken off before it is let through again. The signal's disposition is never
// changed, so a closed standard output still ends the process.
#pragma once

#include <signal.h>

#include <ctime>

namespace linux_source {

class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeGuard() {
    sigset_t pending;
    sigpending(&pending);
    if (!alreadyPending_ && sigismember(&pending, SIGPIPE) == 1) {
      const timespec none{0, 0};
      sigtimedwait(&pipe_, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool alreadyPending_ = false;
};

}  // namespace linux_source
