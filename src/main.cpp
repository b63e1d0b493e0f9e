// quorbel: writes one line of JSON every two seconds saying whether the
// microphone is in use, by which processes, and for browsers the titles of
// their windows; with --on-change, also as soon as that answer changes.
#include <cstdio>

#include "cycle/change_stream.h"
#include "cycle/command_line.h"
#include "cycle/poll_cycle.h"
#include "platform/exit_now.h"
#include "platform/standard_output.h"
#include "platform/thread_sleep.h"

int main(int argc, char** argv) {
  // Before anything is written, so every line reaches a pipe the moment its
  // line feed is written.
  prepareStandardOutput();
  const bool once = onceRequested(argc, argv);
  if (!once && onChangeRequested(argc, argv)) {
    streamOnChange(stdout);
    return 0;
  }
  for (;;) {
    writeSnapshot(stdout);
    if (once) exitNow(0);
    sleepForTimeInterval(2.0);
  }
}
