// A strict JSON reader for checking snapshot lines: RFC 8259 with no
// extensions, raw control characters refused, UTF-8 validated, duplicate keys
// refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace json {

struct Member;

struct Value {
  enum class Type { null, boolean, number, string, array, object };
  Type type = Type::null;
  bool boolean = false;
  std::string text;  // a string's decoded text, or a number as written
  std::vector<Value> items;
  std::vector<Member> members;

  const Value* member(std::string_view key) const;
};

struct Member {
  std::string first;  // the key
  Value second;
};

// The value of the whole text, or nothing with a reason in error.
std::optional<Value> parse(std::string_view text, std::string* error = nullptr);

bool isValidUtf8(std::string_view text);

}  // namespace json
