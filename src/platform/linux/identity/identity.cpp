#include "platform/linux/identity/identity.h"

#include "platform/linux/identity/browser_map.h"
#include "platform/linux/identity/desktop_entries.h"
#include "platform/linux/identity/executable_owner.h"
#include "platform/linux/identity/process_files.h"
#include "platform/linux/identity/sandbox_ids.h"

namespace linux_source {
namespace {

std::optional<Identity> identifyRunning(pid_t pid, const std::string& program, const IdentityPlaces& places) {
  if (pid <= 0) return std::nullopt;
  const auto own = processStat(places.root, pid);
  if (!own) return std::nullopt;

  // A browser's helpers run the browser's own executable as its children.
  pid_t resolved = pid;
  ProcessStat resolvedStat = *own;
  for (int depth = 0; depth < 64 && !program.empty(); ++depth) {
    const pid_t parent = resolvedStat.parent;
    if (parent <= 1 || executablePath(places.root, parent) != program) break;
    const auto parentStat = processStat(places.root, parent);
    if (!parentStat) break;
    resolved = parent;
    resolvedStat = *parentStat;
  }

  std::string id = flatpakId(places.root, resolved);
  const bool sandboxed = !id.empty();
  if (id.empty()) {
    const ControlGroups groups = controlGroups(places.root, resolved);
    id = snapName(groups);
    if (id.empty()) id = unitId(groups);
  }
  const std::string programName = baseName(program);
  std::optional<DesktopEntry> entry = desktopEntry(places.root, places.dataDirs, id, programName);
  if (id.empty() && entry) id = entry->id;
  // An ID with no entry of its own still takes its name from the entry that runs its program.
  if (!entry && !id.empty()) entry = desktopEntry(places.root, places.dataDirs, {}, programName);

  // With no ID at all, a browser is still known by its executable's name.
  // Outside a Flatpak, a browser's names (its executable's, a unit's or a
  // desktop entry's, which any program of the user's can take) count only
  // for an executable the user could not have put there; a process that
  // fails that goes by no ID at all, so it is in no browser's family.
  const std::string_view browser = browserBundleFor(id.empty() ? programName : id);
  const bool posesAsBrowser = !browser.empty() || namesBrowser(id);
  const bool vouched = sandboxed || !posesAsBrowser || onlyRootCanReplace(places.root, resolved, program);

  Identity identity;
  if (vouched) identity.bundleIdentifier = browser.empty() ? id : std::string(browser);
  // Nor does it borrow the browser's name from the browser's desktop entry.
  identity.name = vouched && entry && !entry->name.empty() ? entry->name : resolvedStat.command;
  return identity;
}

}  // namespace

std::optional<Identity> identify(pid_t pid, const IdentityPlaces& places) {
  return identifyRunning(pid, executablePath(places.root, pid), places);
}

std::optional<Identity> identifyKnown(pid_t pid, const IdentityPlaces& places, KnownIdentities& known,
                                      std::uint64_t epoch) {
  auto found = known.byPid.find(pid);
  if (found != known.byPid.end() && found->second.epoch == epoch) return found->second.identity;
  const std::string program = executablePath(places.root, pid);
  if (found != known.byPid.end() && !program.empty() && found->second.executable == program) {
    found->second.epoch = epoch;
    return found->second.identity;
  }
  auto identity = identifyRunning(pid, program, places);
  if (!identity || program.empty()) {
    known.byPid.erase(pid);
    return identity;
  }
  if (known.byPid.size() >= 4096) known.byPid.clear();  // processes come and go; keep it bounded
  known.byPid[pid] = KnownIdentities::Known{program, *identity, epoch};
  return identity;
}

}  // namespace linux_source
