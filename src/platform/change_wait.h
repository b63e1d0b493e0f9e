// The wait between two cycles when lines are also written on a change: for
// the timer, or for the platform to tell of a change that may alter the
// answer, whichever comes first.
#pragma once

// Makes the waiting thread's wait end now, or its next wait at once. Safe from
// any thread: CoreAudio calls its property listeners on a thread of its own.
void wakeForChange();

// Waits up to seconds. True when a change was told of since the last wait
// ended (before the call or during it), false when the time ran out.
bool waitForChange(double seconds);
