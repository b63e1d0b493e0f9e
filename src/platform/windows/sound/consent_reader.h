// The microphone entries of the current user's privacy consent store.
#pragma once

#include <vector>

#include "platform/windows/sound/consent_entries.h"

namespace windows_source {

// Empty where the store does not exist (before Windows 10 1903) or cannot be read.
std::vector<ConsentEntry> readConsentEntries();

}  // namespace windows_source
