// The audio sessions of the capture endpoints, as plain records: what the
// session reader makes of the endpoint enumerator's and the session
// managers' answers, and what recorded listings in tests are written as.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace windows_source {

using ProcessId = std::uint32_t;

struct AudioSession {
  bool active = false;                // AudioSessionStateActive: a stream runs
  std::optional<ProcessId> process;   // none for a session of several processes
  bool systemSounds = false;
};

// One active capture endpoint. Where its session manager cannot enumerate
// the sessions, the list stays empty and the endpoint counts as idle.
struct CaptureEndpoint {
  std::vector<AudioSession> sessions;
};

struct CaptureListing {
  std::vector<CaptureEndpoint> endpoints;
};

}  // namespace windows_source
