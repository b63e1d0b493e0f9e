#include "platform/windows/windows/utf16_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Utf16Text, ToUtf8WithLoneSurrogatesReplaced) {
  struct Case {
    const char* what;
    std::u16string utf16;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {"empty", u"", ""},
      {"ASCII", u"Meet - Q3", "Meet - Q3"},
      {"two and three bytes", u"caf\u00e9 \u20ac", "caf\xc3\xa9 \xe2\x82\xac"},
      {"a pair", u"\U0001F3A4 mic", "\xf0\x9f\x8e\xa4 mic"},
      {"a lone high surrogate", std::u16string{u'a', char16_t(0xD83C), u'b'}, "a\xef\xbf\xbd" "b"},
      {"a lone low surrogate", std::u16string{char16_t(0xDF99)}, "\xef\xbf\xbd"},
      {"a high surrogate at the end", std::u16string{u'x', char16_t(0xD800)}, "x\xef\xbf\xbd"},
      {"two high surrogates, then a low", std::u16string{char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)},
       "\xef\xbf\xbd\xf0\x90\x80\x80"},
      {"a NUL stays", std::u16string{u'a', u'\0', u'b'}, std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(windows_source::utf8FromUtf16(c.utf16), c.utf8);
  }
}

TEST(Utf16Text, FromUtf8WithMalformedBytesReplaced) {
  struct Case {
    const char* what;
    std::string utf8;
    std::u16string utf16;
  };
  const std::vector<Case> cases = {
      {"a path", "C:\\Tools\\r\xc3\xa9" "c.exe", u"C:\\Tools\\r\u00e9c.exe"},
      {"four bytes", "\xf0\x9f\x8e\xa4", u"\U0001F3A4"},
      {"a stray continuation byte", "a\x80" "b", u"a\uFFFDb"},
      {"cut short", "\xe2\x82", u"\uFFFD\uFFFD"},
      {"overlong", "\xc0\xaf", u"\uFFFD\uFFFD"},
      {"an encoded surrogate", "\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(windows_source::utf16FromUtf8(c.utf8), c.utf16);
  }
}

}  // namespace
