#include "report/sanitize.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "strict_json.h"

namespace {

struct Case {
  const char* what;
  std::string in;
  std::string out;
};

TEST(Sanitize, TableOfReplacements) {
  using namespace std::string_literals;
  const std::vector<Case> cases = {
      {"plain text is kept", "Weekly sync", "Weekly sync"},
      {"empty text", "", ""},
      {"backslash doubled", R"(Shared\Plans\Q3)", R"(Shared\\Plans\\Q3)"},
      {"double quote becomes apostrophe", R"(Plan "Q3" review)", "Plan 'Q3' review"},
      {"line feed becomes space", "line one\nline two", "line one line two"},
      {"replacements do not feed each other", "\\\"\n", "\\\\' "},
      {"apostrophe kept", "it's", "it's"},
      {"tab escaped", "a\tb", "a\\tb"},
      {"carriage return escaped", "a\rb", "a\\rb"},
      {"backspace and form feed escaped", "\b\f", "\\b\\f"},
      {"NUL escaped", "a\0b"s, "a\\u0000b"},
      {"other control characters escaped", "\x01\x1f", "\\u0001\\u001f"},
      {"DEL is not a JSON control character", "\x7f", "\x7f"},
      {"non-Latin script kept as UTF-8", "Звонок — 会議 🎙", "Звонок — 会議 🎙"},
      {"U+2028 kept", "\xE2\x80\xA8", "\xE2\x80\xA8"},
      {"stray continuation byte", "a\x80z", "a\xEF\xBF\xBDz"},
      {"lone lead byte at the end", "a\xC3", "a\xEF\xBF\xBD"},
      {"truncated three-byte sequence is one replacement", "\xE2\x82z", "\xEF\xBF\xBDz"},
      {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"encoded surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"byte FF", "\xFF", "\xEF\xBF\xBD"},
      {"largest code point kept", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(sanitize(c.in), c.out);
  }
}

// Every possible byte, alone and after a lead byte, must come out as a valid
// JSON string body that decodes back to the text for all that is kept.
TEST(Sanitize, HostileTitlesAreStrictJson) {
  std::vector<std::string> titles;
  for (int b = 0; b < 256; ++b) {
    titles.push_back(std::string(1, static_cast<char>(b)));
    titles.push_back(std::string("\xE2") + static_cast<char>(b) + "x");
    titles.push_back(std::string("\xF0\x9F") + static_cast<char>(b));
  }
  titles.push_back(std::string("\x00\t\r\n\"\\\x1b[31m</script>", 17));
  for (const std::string& title : titles) {
    const std::string quoted = "\"" + sanitize(title) + "\"";
    std::string error;
    const auto value = json::parse(quoted, &error);
    ASSERT_TRUE(value) << error << " for " << ::testing::PrintToString(title);
    EXPECT_EQ(value->type, json::Value::Type::string);
    EXPECT_EQ(quoted.find('\n'), std::string::npos);
  }
}

TEST(Sanitize, ControlCharactersDecodeToThemselves) {
  for (int c = 0; c < 0x20; ++c) {
    if (c == '\n') continue;
    const std::string text = "x" + std::string(1, static_cast<char>(c)) + "y";
    const auto value = json::parse("\"" + sanitize(text) + "\"");
    ASSERT_TRUE(value) << c;
    EXPECT_EQ(value->text, text) << c;
  }
}

}  // namespace
