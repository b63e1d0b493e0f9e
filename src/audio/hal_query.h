// The query pattern the audio probes share: element main, no qualifier, and
// a value preset by the caller that a silent answer leaves alone.
#pragma once

#include <optional>
#include <vector>

#include "platform/coreaudio.h"

AudioObjectPropertyAddress propertyAddress(AudioObjectPropertySelector selector, AudioObjectPropertyScope scope);

// Reads into destination, capacity bytes at most; only the status is trusted,
// never the size the platform gives back.
OSStatus readProperty(AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32 capacity,
                      void* destination);

// The size query, with the size preset to 0.
OSStatus propertySize(AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32& size);

enum class EmptyList { notRead, read };

// The system object's list of object IDs at selector: as many slots as whole
// IDs fit in the reported size, zero where the answer did not fill them;
// nothing when a query fails. With EmptyList::notRead a size below one ID
// ends the call without the data query.
std::optional<std::vector<AudioObjectID>> systemObjectList(AudioObjectPropertySelector selector, EmptyList empty);
