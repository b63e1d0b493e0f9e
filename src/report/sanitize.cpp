#include "report/sanitize.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at the start of s, or 0 when it is
// malformed; bad then holds the length of its maximal ill-formed prefix, which
// becomes one replacement character.
std::size_t wellFormedLength(std::string_view s, std::size_t& bad) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
  const std::uint8_t lead = byte(0);
  std::size_t need = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    bad = 1;
    return 0;
  }
  for (std::size_t i = 1; i <= need; ++i) {
    const bool inRange = i < s.size() && byte(i) >= (i == 1 ? low : 0x80) && byte(i) <= (i == 1 ? high : 0xBF);
    if (!inRange) {
      bad = i;
      return 0;
    }
  }
  return need + 1;
}

void appendControl(std::string& out, unsigned char c) {
  switch (c) {
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case '\b': out += "\\b"; return;
    case '\f': out += "\\f"; return;
    default: break;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

// Bytes that are written as they stand: printable ASCII but the backslash
// and the double quote.
constexpr bool plain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '\\' && c != '"'; }

}  // namespace

void appendSanitized(std::string& out, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    // Most of a title needs nothing done: copy it a run at a time.
    std::size_t run = i;
    while (run < text.size() && plain(static_cast<unsigned char>(text[run]))) ++run;
    out.append(text.data() + i, run - i);
    i = run;
    if (i == text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c == '\\') out += "\\\\";
      else if (c == '"') out += '\'';
      else if (c == '\n') out += ' ';
      else appendControl(out, c);
      ++i;
      continue;
    }
    std::size_t bad = 0;
    const std::size_t length = wellFormedLength(text.substr(i), bad);
    if (length > 0) {
      out.append(text.data() + i, length);
      i += length;
    } else {
      out += kReplacement;
      i += bad;
    }
  }
}

std::string sanitize(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendSanitized(out, text);
  return out;
}
