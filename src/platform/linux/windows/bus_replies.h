// What a peer on a bus answered, read with care: an application may answer
// with any types at all, and libdbus ends the process when it is asked to
// read a value as the wrong type or to send to a malformed name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct DBusMessage;

namespace linux_source {

// An object on the accessibility bus: the connection that serves it and its path.
struct AccessibleReference {
  std::string busName;
  std::string path;
};

// The reply's first argument, also when it comes inside a variant (as a
// property's value does); nothing for another type or no reply.
std::optional<bool> booleanIn(DBusMessage* reply);
std::optional<std::uint32_t> numberIn(DBusMessage* reply);
std::optional<std::string> textIn(DBusMessage* reply);

// An a(so), as GetChildren answers: at most `most` references, skipping
// members of another shape.
std::optional<std::vector<AccessibleReference>> referencesIn(DBusMessage* reply, std::size_t most);

// text cut to at most `most` bytes, never inside a character.
std::string cutAtCharacter(std::string text, std::size_t most);

// Whether a reference may be asked: a well-formed bus name and object path.
bool validReference(const AccessibleReference& reference);

}  // namespace linux_source
