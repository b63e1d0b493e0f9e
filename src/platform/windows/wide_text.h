// Windows' own wide strings, as text for the line.
#pragma once

#include <string>
#include <string_view>

#include "platform/windows/windows/utf16_text.h"

namespace windows_source {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 code units");

inline std::string utf8FromWide(std::wstring_view text) {
  return utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

}  // namespace windows_source
