#include "platform/windows/sound/consent_reader.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/windows/wide_text.h"

namespace windows_source {
namespace {

constexpr wchar_t kMicrophone[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\CapabilityAccessManager\\ConsentStore\\microphone";
constexpr DWORD kMostEntries = 4096;

class Key {
 public:
  Key(HKEY parent, const wchar_t* name) {
    if (RegOpenKeyExW(parent, name, 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::optional<std::uint64_t> qword(HKEY key, const wchar_t* value) {
  std::uint64_t data = 0;
  DWORD size = sizeof data;
  if (RegGetValueW(key, nullptr, value, RRF_RT_REG_QWORD, nullptr, &data, &size) != ERROR_SUCCESS) return std::nullopt;
  return data;
}

// Each subkey of key as an entry; NonPackaged is a folder of entries, not one.
void readEntries(HKEY key, bool packaged, std::vector<ConsentEntry>& entries) {
  wchar_t name[256];  // a registry key name is at most 255 characters
  for (DWORD i = 0; i < kMostEntries; ++i) {
    DWORD length = sizeof name / sizeof name[0];
    const LONG status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    const Key entry(key, name);
    if (entry.get() == nullptr) continue;
    if (packaged && lstrcmpiW(name, L"NonPackaged") == 0) {
      readEntries(entry.get(), false, entries);
      continue;
    }
    const bool inUse = inUseFromTimes(qword(entry.get(), L"LastUsedTimeStart"), qword(entry.get(), L"LastUsedTimeStop"));
    entries.push_back(ConsentEntry{utf8FromWide(name), packaged, inUse});
  }
}

}  // namespace

std::vector<ConsentEntry> readConsentEntries() {
  std::vector<ConsentEntry> entries;
  const Key store(HKEY_CURRENT_USER, kMicrophone);
  if (store.get() != nullptr) readEntries(store.get(), true, entries);
  return entries;
}

}  // namespace windows_source
