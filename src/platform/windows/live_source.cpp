// The running Windows system as the platform model's source.
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/model/source.h"
#include "platform/windows/bounded_read.h"
#include "platform/windows/identity/identity.h"
#include "platform/windows/identity/process_table.h"
#include "platform/windows/sound/capture_hal.h"
#include "platform/windows/sound/consent_reader.h"
#include "platform/windows/sound/session_reader.h"
#include "platform/windows/windows/desktop_windows.h"

namespace model {
namespace {

using windows_source::ProcessId;

// As every question to another process on Linux.
constexpr std::chrono::milliseconds kAudioServiceBound{400};

std::optional<std::string> unlessEmpty(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

class WindowsSystem final : public Source {
 public:
  void refresh(Scene& scene, Moment moment, pid_t pid) override {
    switch (moment) {
      case Moment::processList: {
        const windows_source::CaptureListing listing = sessions_(kAudioServiceBound);
        windows_source::putProcessObjects(listing, consentHolders(listing), scene);
        break;
      }
      case Moment::deviceList:
        windows_source::putDevices(sessions_(kAudioServiceBound), scene);
        break;
      case Moment::applicationLookup:
        scene.registry.clear();
        if (pid >= 0) scene.registry[pid] = applicationOf(static_cast<ProcessId>(pid));
        break;
      case Moment::trust:
        scene.trusted = windows_source::titlesReadable(windows_source::desktopFacts());
        break;
      case Moment::workspace:
        scene.workspace = windowOwners();
        break;
      case Moment::windows:
        scene.elements.clear();
        scene.elements[pid] = windowsOf(pid);
        break;
    }
  }

  // Windows tells of new audio sessions only to a registered COM callback,
  // which this source does not keep yet: with --on-change the two-second
  // lines still come, and nothing between them.
  bool waitForChange(std::chrono::steady_clock::time_point until) override {
    std::this_thread::sleep_until(until);
    return false;
  }

 private:
  static std::vector<windows_source::NamedHolder> consentHolders(const windows_source::CaptureListing& listing) {
    const std::vector<windows_source::ConsentEntry> entries = windows_source::readConsentEntries();
    std::vector<windows_source::NamedHolder> named;
    bool anyInUse = false;
    for (const windows_source::ConsentEntry& entry : entries) anyInUse = anyInUse || entry.inUse;
    if (!anyInUse) return named;  // the common idle cycle opens no process
    const auto candidates = windows_source::candidatesFor(entries, windows_source::runningProcesses());
    for (windows_source::ConsentHolder& holder :
         windows_source::consentHolders(entries, candidates, windows_source::sessionHolders(listing))) {
      std::string bundle = windows_source::bundleOfConsentKey(holder.entryKey, holder.packaged);
      named.push_back(windows_source::NamedHolder{std::move(holder), std::move(bundle)});
    }
    return named;
  }

  static Application applicationOf(ProcessId pid) {
    const windows_source::Identity identity = windows_source::identityOf(windows_source::factsOf(pid));
    return Application{static_cast<pid_t>(pid), unlessEmpty(identity.bundleIdentifier), unlessEmpty(identity.name)};
  }

  // The running applications are the processes that own an application window.
  std::vector<Application> windowOwners() {
    windows_ = windows_source::applicationWindows();
    std::vector<ProcessId> owners;
    for (const windows_source::TopLevelWindow& window : windows_) {
      bool known = false;
      for (ProcessId owner : owners) known = known || owner == window.owner;
      if (!known) owners.push_back(window.owner);
    }
    std::vector<Application> applications;
    for (ProcessId owner : owners) applications.push_back(applicationOf(owner));
    return applications;
  }

  // From the listing the same cycle's workspace question made.
  ApplicationElement windowsOf(pid_t pid) const {
    ApplicationElement element;
    for (const windows_source::TopLevelWindow& window : windows_)
      if (static_cast<pid_t>(window.owner) == pid) element.windows.push_back(Window{kAXErrorSuccess, ValueKind::expected, window.title});
    return element;
  }

  windows_source::BoundedRead<windows_source::CaptureListing> sessions_{windows_source::readCaptureSessions};
  std::vector<windows_source::TopLevelWindow> windows_;
};

}  // namespace

Source& activeSource() {
  static WindowsSystem system;
  return system;
}

}  // namespace model
