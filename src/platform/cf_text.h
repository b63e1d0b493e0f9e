// A CoreFoundation string as UTF-8 text.
#pragma once

#include <string>

#include "platform/corefoundation.h"

// Converts the whole string; a character that UTF-8 cannot carry (an unpaired
// surrogate) becomes a loss byte instead of failing the whole text. Null gives
// the empty text.
std::string textOf(CFStringRef string);
