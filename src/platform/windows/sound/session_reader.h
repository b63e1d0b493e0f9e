// The thin reader over the audio endpoint and session interfaces: every COM
// call is here, and what it learns is a plain listing.
#pragma once

#include "platform/windows/sound/capture_sessions.h"

namespace windows_source {

// The active capture endpoints and their sessions, read afresh: a session
// enumerator can miss sessions created after it was made.
CaptureListing readCaptureSessions();

}  // namespace windows_source
