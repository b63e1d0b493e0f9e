#include "strict_json.h"

#include <cstdint>

namespace json {

const Value* Value::member(std::string_view key) const {
  for (const auto& [name, value] : members)
    if (name == key) return &value;
  return nullptr;
}

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<std::uint8_t>(s[i]);
    std::size_t need = 0;
    std::uint32_t cp = 0, min = 0;
    if (c < 0x80) { ++i; continue; }
    if ((c & 0xE0) == 0xC0) { need = 1; cp = c & 0x1F; min = 0x80; }
    else if ((c & 0xF0) == 0xE0) { need = 2; cp = c & 0x0F; min = 0x800; }
    else if ((c & 0xF8) == 0xF0) { need = 3; cp = c & 0x07; min = 0x10000; }
    else return false;
    if (i + need >= s.size()) return false;  // truncated sequence
    for (std::size_t k = 1; k <= need; ++k) {
      const auto t = static_cast<std::uint8_t>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += need + 1;
  }
  return true;
}

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  std::optional<Value> document() {
    skipSpace();
    auto value = parseValue(0);
    if (!value) return std::nullopt;
    skipSpace();
    if (pos_ != s_.size()) return fail("text after the value");
    return value;
  }

  std::string error;

 private:
  std::nullopt_t fail(const char* why) {
    if (error.empty()) error = std::string(why) + " at byte " + std::to_string(pos_);
    return std::nullopt;
  }

  void skipSpace() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) ++pos_;
  }

  bool take(std::string_view word) {
    if (s_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  std::optional<Value> parseValue(int depth) {
    if (depth > 64) return fail("nested too deeply");
    if (pos_ >= s_.size()) return fail("value expected");
    Value v;
    const char c = s_[pos_];
    if (c == '{') return parseObject(depth);
    if (c == '[') return parseArray(depth);
    if (c == '"') {
      auto text = parseString();
      if (!text) return std::nullopt;
      v.type = Value::Type::string;
      v.text = std::move(*text);
      return v;
    }
    if (take("true")) { v.type = Value::Type::boolean; v.boolean = true; return v; }
    if (take("false")) { v.type = Value::Type::boolean; return v; }
    if (take("null")) return v;
    return parseNumber();
  }

  std::optional<Value> parseNumber() {
    const std::size_t start = pos_;
    const auto digit = [&] { return pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9'; };
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    if (!digit()) return fail("digit expected");
    if (s_[pos_] == '0') ++pos_;
    else while (digit()) ++pos_;
    if (pos_ < s_.size() && s_[pos_] == '.') {
      ++pos_;
      if (!digit()) return fail("fraction digit expected");
      while (digit()) ++pos_;
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      if (!digit()) return fail("exponent digit expected");
      while (digit()) ++pos_;
    }
    Value v;
    v.type = Value::Type::number;
    v.text = std::string(s_.substr(start, pos_ - start));
    return v;
  }

  std::optional<unsigned> hex4() {
    if (pos_ + 4 > s_.size()) return std::nullopt;
    unsigned value = 0;
    for (int k = 0; k < 4; ++k) {
      const char h = s_[pos_++];
      value <<= 4;
      if (h >= '0' && h <= '9') value |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f') value |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') value |= static_cast<unsigned>(h - 'A' + 10);
      else return std::nullopt;
    }
    return value;
  }

  static void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) { out += static_cast<char>(cp); return; }
    if (cp < 0x800) { out += static_cast<char>(0xC0 | (cp >> 6)); }
    else if (cp < 0x10000) { out += static_cast<char>(0xE0 | (cp >> 12)); out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)); }
    else { out += static_cast<char>(0xF0 | (cp >> 18)); out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F)); out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)); }
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }

  std::optional<std::string> parseString() {
    ++pos_;  // the opening quote
    const std::size_t start = pos_;
    std::string out;
    while (true) {
      if (pos_ >= s_.size()) return fail("unterminated string");
      const auto c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') break;
      if (c < 0x20) return fail("raw control character in a string");
      if (c != '\\') { out += static_cast<char>(c); ++pos_; continue; }
      ++pos_;
      if (pos_ >= s_.size()) return fail("unterminated escape");
      const char e = s_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          auto cp = hex4();
          if (!cp) return fail("bad \\u escape");
          std::uint32_t code = *cp;
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (!take("\\u")) return fail("lone high surrogate");
            auto low = hex4();
            if (!low || *low < 0xDC00 || *low > 0xDFFF) return fail("bad low surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return fail("lone low surrogate");
          }
          appendUtf8(out, code);
          break;
        }
        default: return fail("unknown escape");
      }
    }
    if (!isValidUtf8(s_.substr(start, pos_ - start))) return fail("string is not valid UTF-8");
    ++pos_;
    return out;
  }

  std::optional<Value> parseArray(int depth) {
    ++pos_;
    Value v;
    v.type = Value::Type::array;
    skipSpace();
    if (pos_ < s_.size() && s_[pos_] == ']') { ++pos_; return v; }
    while (true) {
      skipSpace();
      auto item = parseValue(depth + 1);
      if (!item) return std::nullopt;
      v.items.push_back(std::move(*item));
      skipSpace();
      if (take("]")) return v;
      if (!take(",")) return fail("',' or ']' expected");
    }
  }

  std::optional<Value> parseObject(int depth) {
    ++pos_;
    Value v;
    v.type = Value::Type::object;
    skipSpace();
    if (pos_ < s_.size() && s_[pos_] == '}') { ++pos_; return v; }
    while (true) {
      skipSpace();
      if (pos_ >= s_.size() || s_[pos_] != '"') return fail("key expected");
      auto key = parseString();
      if (!key) return std::nullopt;
      if (v.member(*key) != nullptr) return fail("duplicate key");
      skipSpace();
      if (!take(":")) return fail("':' expected");
      skipSpace();
      auto item = parseValue(depth + 1);
      if (!item) return std::nullopt;
      v.members.push_back(Member{std::move(*key), std::move(*item)});
      skipSpace();
      if (take("}")) return v;
      if (!take(",")) return fail("',' or '}' expected");
    }
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<Value> parse(std::string_view text, std::string* error) {
  Reader reader(text);
  auto value = reader.document();
  if (!value && error != nullptr) *error = reader.error;
  return value;
}

}  // namespace json
