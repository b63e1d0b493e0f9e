#include "cycle/poll_cycle.h"

#include <vector>

#include "audio/any_input_running.h"
#include "audio/mic_holders.h"
#include "platform/accessibility.h"
#include "platform/autorelease_pool.h"
#include "platform/standard_output.h"
#include "report/snapshot_line.h"
#include "windows/browsers.h"
#include "windows/titles.h"

std::string snapshotOfNow() {
  const std::vector<Holder> holders = micHolders();
  std::vector<std::string> holderObjects;
  holderObjects.reserve(holders.size());
  for (const Holder& holder : holders) {
    std::vector<std::string> windowTitles;
    if (isBrowserBundle(holder.bundle)) windowTitles = titles(holder.bundle);
    holderObjects.push_back(holderObject(holder, windowTitles));
  }
  // Asked in every cycle: on systems without a process list it is the only sign.
  const bool inputRunning = anyInputRunning();
  const bool micInUse = inputRunning || !holders.empty();
  const bool ax = AXIsProcessTrusted() != 0;
  return snapshotLine(micInUse, holderObjects, ax);
}

void writeSnapshot(std::FILE* out) {
  // The poll loop never returns to a run loop that would drain what the
  // cycle's CoreAudio, Accessibility and CoreFoundation calls autorelease, and
  // it runs for weeks: each cycle gets a pool of its own, let go after its
  // line is out.
  insideAutoreleasePool([out] {
    std::string line = snapshotOfNow();
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
    lineWritten(out);
  });
}
