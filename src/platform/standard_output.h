// How the line reaches its reader on each system: untranslated bytes, each
// line out as soon as its line feed is written, and the monitor gone once its
// reader is.
#pragma once

#include <cstdio>

// Before anything is written to standard output.
void prepareStandardOutput();

// After each whole line written to out.
void lineWritten(std::FILE* out);
