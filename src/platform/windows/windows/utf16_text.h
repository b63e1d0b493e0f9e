// Windows hands out text as UTF-16; the line carries UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace windows_source {

// A lone surrogate becomes U+FFFD; everything else keeps its code point.
std::string utf8FromUtf16(std::u16string_view text);

// Well-formed UTF-8 to UTF-16; a malformed byte becomes U+FFFD.
std::u16string utf16FromUtf8(std::string_view text);

}  // namespace windows_source
