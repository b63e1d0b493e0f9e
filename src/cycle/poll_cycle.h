// One poll cycle: ask every probe afresh and write the snapshot line.
#pragma once

#include <cstdio>
#include <string>

// The cycle's snapshot line, without its line feed.
std::string snapshotOfNow();

// snapshotOfNow() and one line feed, written to out, inside an autorelease
// pool of its own. A reader that has gone ends the process (see
// platform/standard_output.h); other write errors are not looked at.
void writeSnapshot(std::FILE* out);
