#include "cycle/command_line.h"

#include <cstring>

bool onceRequested(int argc, const char* const* argv) {
  for (int i = 0; i < argc; ++i) {
    if (argv[i] != nullptr && std::strcmp(argv[i], "--once") == 0) return true;
  }
  return false;
}
