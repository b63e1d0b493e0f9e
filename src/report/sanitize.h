// Makes a text safe to stand between the double quotes of a snapshot line.
#pragma once

#include <string>
#include <string_view>

// Backslash doubled, double quote to apostrophe, line feed to space; every
// other character below U+0020 as a JSON escape; each malformed UTF-8
// sequence as U+FFFD. Everything else is written as it stands.
std::string sanitize(std::string_view text);

// The same, appended to out, for the line writer's single buffer.
void appendSanitized(std::string& out, std::string_view text);
