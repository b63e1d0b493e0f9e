#include "platform/windows/sound/consent_entries.h"

#include <algorithm>

namespace windows_source {
namespace {

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool belongsTo(const ConsentEntry& entry, const CandidateProcess& process) {
  if (entry.packaged) return !process.packageFamily.empty() && sameName(process.packageFamily, entry.key);
  return !process.imagePath.empty() && sameName(process.imagePath, executablePathOfKey(entry.key));
}

bool contains(const std::vector<ProcessId>& pids, ProcessId pid) {
  return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

std::optional<ProcessId> theOneThatFits(const std::vector<const CandidateProcess*>& processes,
                                        const std::vector<ProcessId>& sessionHolders) {
  if (processes.size() == 1) return processes.front()->pid;
  std::vector<ProcessId> pids;
  for (const CandidateProcess* process : processes) pids.push_back(process->pid);
  for (ProcessId pid : pids)
    if (contains(sessionHolders, pid)) return pid;
  std::optional<ProcessId> root;
  for (const CandidateProcess* process : processes) {
    if (contains(pids, process->parent)) continue;
    if (root) return std::nullopt;  // two trees of the same program: no telling which
    root = process->pid;
  }
  return root;
}

}  // namespace

std::string executablePathOfKey(std::string_view key) {
  std::string path(key);
  std::replace(path.begin(), path.end(), '#', '\\');
  return path;
}

bool inUseFromTimes(std::optional<std::uint64_t> lastUsedStart, std::optional<std::uint64_t> lastUsedStop) {
  return lastUsedStart.value_or(0) != 0 && lastUsedStop && *lastUsedStop == 0;
}

std::vector<ConsentHolder> consentHolders(const std::vector<ConsentEntry>& entries,
                                          const std::vector<CandidateProcess>& running,
                                          const std::vector<ProcessId>& sessionHolders) {
  std::vector<ConsentHolder> holders;
  for (const ConsentEntry& entry : entries) {
    if (!entry.inUse) continue;
    std::vector<const CandidateProcess*> processes;
    for (const CandidateProcess& process : running)
      if (belongsTo(entry, process)) processes.push_back(&process);
    if (processes.empty()) continue;  // stale: its program does not run
    holders.push_back(ConsentHolder{theOneThatFits(processes, sessionHolders), entry.key, entry.packaged});
  }
  return holders;
}

std::string_view fileNameOf(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowered(x) == lowered(y); });
}

}  // namespace windows_source
