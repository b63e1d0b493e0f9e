#include "report/snapshot_line.h"

#include <charconv>

#include "report/sanitize.h"

namespace {

void appendString(std::string& out, const std::string& text) {
  out += '"';
  appendSanitized(out, text);
  out += '"';
}

const char* boolean(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string holderObject(const Holder& holder, const std::vector<std::string>& titles) {
  std::size_t expected = 64 + holder.bundle.size() + holder.name.size();
  for (const std::string& title : titles) expected += title.size() + 3;
  std::string out;
  out.reserve(expected);
  out += "{\"pid\":";
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, holder.pid).ptr;
  out.append(digits, end);
  out += ",\"bundle\":";
  appendString(out, holder.bundle);
  out += ",\"name\":";
  appendString(out, holder.name);
  out += ",\"titles\":[";
  for (std::size_t i = 0; i < titles.size(); ++i) {
    if (i > 0) out += ',';
    appendString(out, titles[i]);
  }
  out += "]}";
  return out;
}

std::string snapshotLine(bool micInUse, const std::vector<std::string>& holderObjects, bool ax) {
  std::size_t expected = 48;
  for (const std::string& object : holderObjects) expected += object.size() + 1;
  std::string out;
  out.reserve(expected);
  out += "{\"micInUse\":";
  out += boolean(micInUse);
  out += ",\"holders\":[";
  for (std::size_t i = 0; i < holderObjects.size(); ++i) {
    if (i > 0) out += ',';
    out += holderObjects[i];
  }
  out += "],\"ax\":";
  out += boolean(ax);
  out += '}';
  return out;
}
