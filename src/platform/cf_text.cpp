#include "platform/cf_text.h"

std::string textOf(CFStringRef string) {
  if (string == nullptr) return {};
  const CFIndex length = CFStringGetLength(string);
  if (length <= 0) return {};
  const CFIndex capacity = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8);
  if (capacity <= 0) return {};
  std::string text(static_cast<std::size_t>(capacity), '\0');
  CFIndex used = 0;
  CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8*>(text.data()), capacity, &used);
  text.resize(used > 0 && used <= capacity ? static_cast<std::size_t>(used) : 0);
  return text;
}
