// libFuzzer target: one whole cycle of the monitor over a scene made from the input.
#include <cstdio>
#include <cstdlib>

#include "cycle_check.h"
#include "scene_from_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = checkOneCycle(sceneFromBytes(data, size));
  if (!failure.empty()) {
    std::fprintf(stderr, "cycle check failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
