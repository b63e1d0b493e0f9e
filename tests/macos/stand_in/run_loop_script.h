// What the GNUstep check's run loop has waiting, and what it was asked.
#pragma once

namespace run_loop_script {

// A stream of notices that never dries up.
constexpr long kEndless = -1;

// Notices waiting on the run loop: each turn handles one. Starts the count of turns afresh.
void setWaitingNotices(long count);
long waitingNotices();

// Turns since the notices were last set.
long turns();
// Turns asked for anything but the default mode, no wait, and a return after one source.
long turnsAskedOtherwise();

}  // namespace run_loop_script
