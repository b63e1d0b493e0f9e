#include "cycle/command_line.h"

#include <cstring>

namespace {

bool given(int argc, const char* const* argv, const char* option) {
  for (int i = 0; i < argc; ++i) {
    if (argv[i] != nullptr && std::strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

}  // namespace

bool onceRequested(int argc, const char* const* argv) { return given(argc, argv, "--once"); }

bool onChangeRequested(int argc, const char* const* argv) { return given(argc, argv, "--on-change"); }
