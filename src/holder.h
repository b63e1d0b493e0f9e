// One process that is capturing audio input.
#pragma once

#include <cstdint>
#include <string>

struct Holder {
  std::int32_t pid = -1;  // -1 when it cannot be read
  std::string bundle;     // empty when neither the audio process nor its application gives one
  std::string name;       // the application's localized name; empty when none is found
};
