#include "platform/windows/identity/process_table.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cwchar>
#include <vector>

#include "platform/windows/wide_text.h"
#include "platform/windows/windows/utf16_text.h"

namespace windows_source {
namespace {

constexpr std::size_t kMostProcesses = 65536;

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~Handle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::string imagePathOf(HANDLE process) {
  wchar_t path[32768];
  DWORD length = sizeof path / sizeof path[0];
  if (!QueryFullProcessImageNameW(process, 0, path, &length)) return {};
  return utf8FromWide({path, length});
}

std::string fileDescriptionOf(const std::string& imagePath) {
  const std::u16string wide = utf16FromUtf8(imagePath);
  const auto* path = reinterpret_cast<const wchar_t*>(wide.c_str());
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0 || size > (1u << 24)) return {};
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return {};
  struct Translation {
    WORD language;
    WORD codePage;
  };
  std::vector<Translation> translations;
  Translation* listed = nullptr;
  UINT listedSize = 0;
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&listed), &listedSize) &&
      listed != nullptr)
    translations.assign(listed, listed + listedSize / sizeof(Translation));
  // English with the Unicode code page, as most resources without a table carry.
  translations.push_back(Translation{0x0409, 0x04B0});
  for (const Translation& translation : translations) {
    wchar_t query[64];
    std::swprintf(query, sizeof query / sizeof query[0], L"\\StringFileInfo\\%04x%04x\\FileDescription",
                  translation.language, translation.codePage);
    wchar_t* text = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), query, reinterpret_cast<void**>(&text), &length) && text != nullptr && length > 1)
      return utf8FromWide({text, wcsnlen(text, length)});
  }
  return {};
}

// The package calls are Windows 8's and absent from some systems (Wine among
// them): looked up when first needed, never linked.
using PackageCall = LONG(WINAPI*)(HANDLE, UINT32*, PWSTR);

PackageCall packageCall(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel == nullptr ? nullptr : reinterpret_cast<PackageCall>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

std::string packageText(HANDLE process, PackageCall call) {
  if (call == nullptr) return {};
  wchar_t text[256];  // both texts are bounded well below this
  UINT32 length = sizeof text / sizeof text[0];
  if (call(process, &length, text) != ERROR_SUCCESS || length == 0) return {};
  return utf8FromWide({text, wcsnlen(text, length)});
}

std::string packageFamilyOf(HANDLE process) {
  static const PackageCall call = packageCall("GetPackageFamilyName");
  return packageText(process, call);
}

std::string applicationIdOf(HANDLE process) {
  static const PackageCall call = packageCall("GetApplicationUserModelId");
  return packageText(process, call);
}

}  // namespace

std::vector<ProcessEntry> runningProcesses() {
  std::vector<ProcessEntry> processes;
  const Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == nullptr) return processes;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && processes.size() < kMostProcesses;
       more = Process32NextW(snapshot.get(), &entry)) {
    processes.push_back(ProcessEntry{entry.th32ProcessID, entry.th32ParentProcessID,
                                     utf8FromWide({entry.szExeFile, wcsnlen(entry.szExeFile, MAX_PATH)})});
  }
  return processes;
}

ProcessFacts factsOf(ProcessId pid) {
  ProcessFacts facts;
  const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (process.get() == nullptr) return facts;
  facts.imagePath = imagePathOf(process.get());
  facts.packageFamily = packageFamilyOf(process.get());
  if (!facts.packageFamily.empty()) facts.applicationId = applicationIdOf(process.get());
  if (!facts.imagePath.empty()) facts.fileDescription = fileDescriptionOf(facts.imagePath);
  return facts;
}

std::vector<CandidateProcess> candidatesFor(const std::vector<ConsentEntry>& entries,
                                            const std::vector<ProcessEntry>& running) {
  bool anyPackage = false;
  std::vector<std::string> names;
  for (const ConsentEntry& entry : entries) {
    if (!entry.inUse) continue;
    if (entry.packaged) anyPackage = true;
    else names.emplace_back(fileNameOf(executablePathOfKey(entry.key)));
  }
  std::vector<CandidateProcess> candidates;
  for (const ProcessEntry& process : running) {
    bool named = false;
    for (const std::string& name : names) named = named || sameName(name, process.executable);
    if (!named && !anyPackage) continue;
    const Handle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.pid));
    if (handle.get() == nullptr) continue;
    CandidateProcess candidate{process.pid, process.parent, {}, {}};
    if (named) candidate.imagePath = imagePathOf(handle.get());
    if (anyPackage) candidate.packageFamily = packageFamilyOf(handle.get());
    candidates.push_back(std::move(candidate));
  }
  return candidates;
}

}  // namespace windows_source
