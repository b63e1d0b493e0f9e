// How long the Linux source waits for a server (the sound server, the X
// server), and how long it leaves one alone after it failed to answer. A
// healthy server answers in about a millisecond; the bound keeps a hung one
// from holding up the stream, and the quiet time makes it cost one wait per
// cycle rather than one per question.
#pragma once

#include <chrono>

namespace linux_source {

using Clock = std::chrono::steady_clock;

constexpr auto kAnswerBound = std::chrono::milliseconds(400);
constexpr auto kQuietAfterFailure = std::chrono::milliseconds(1000);

}  // namespace linux_source
