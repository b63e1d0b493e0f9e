// The options of the command line: each one is a whole element of the
// argument vector, the program path included, matched exactly (case-sensitive,
// no prefix, no value). Everything else is ignored.
#pragma once

// "--once": one line, then exit.
bool onceRequested(int argc, const char* const* argv);

// "--on-change": a line also as soon as the answer changes.
bool onChangeRequested(int argc, const char* const* argv);
