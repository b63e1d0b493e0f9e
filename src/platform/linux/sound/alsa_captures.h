// Capture devices opened directly, past the sound server.
#pragma once

#include <cstddef>
#include <string>

namespace linux_source {

// Running ALSA capture substreams whose owner is not a sound server (those
// already answer for their streams), from /proc/asound below root.
std::size_t capturesOutsideSoundServer(const std::string& root);

}  // namespace linux_source
