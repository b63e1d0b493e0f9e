// Turns arbitrary bytes into a whole platform scene: HAL objects with failing,
// silent, short and malformed answers, applications, windows with titles of
// any bytes, an OS version and the trust flag.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/model/scene.h"

model::Scene sceneFromBytes(const std::uint8_t* data, std::size_t size);
