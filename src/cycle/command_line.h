// The one option of the command line.
#pragma once

// True when an element of the whole argument vector, the program path
// included, is exactly "--once". Everything else is ignored.
bool onceRequested(int argc, const char* const* argv);
