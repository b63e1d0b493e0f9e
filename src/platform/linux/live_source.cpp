// The running Linux system as the platform model's source.
#include <algorithm>

#include "platform/linux/identity/desktop_entries.h"
#include "platform/linux/identity/identity.h"
#include "platform/linux/sound/alsa_captures.h"
#include "platform/linux/sound/pulse_connection.h"
#include "platform/linux/sound/sound_hal.h"
#include "platform/linux/windows/x_display.h"
#include "platform/model/source.h"

namespace model {
namespace {

std::optional<std::string> unlessEmpty(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

class LinuxSystem final : public Source {
 public:
  LinuxSystem() { places_.dataDirs = linux_source::sessionDataDirs(); }

  void refresh(Scene& scene, Moment moment, pid_t pid) override {
    switch (moment) {
      case Moment::processList:
        linux_source::putProcessObjects(pulse_.listing().value_or(linux_source::SoundServerState{}), scene);
        break;
      case Moment::deviceList:
        linux_source::putDevices(pulse_.listing().value_or(linux_source::SoundServerState{}),
                                 linux_source::capturesOutsideSoundServer(places_.root), scene);
        break;
      case Moment::applicationLookup:
        scene.registry.clear();
        if (auto application = applicationOf(pid)) scene.registry[pid] = *application;
        break;
      case Moment::trust:
        scene.trusted = x_.reachable();
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

 private:
  std::optional<Application> applicationOf(pid_t pid) {
    const auto identity = linux_source::identifyKnown(pid, places_, known_);
    if (!identity) return std::nullopt;
    return Application{pid, unlessEmpty(identity->bundleIdentifier), unlessEmpty(identity->name)};
  }

  // The running applications are the processes that own a window, in the
  // order of their first window.
  std::vector<Application> windowOwners() {
    std::vector<Application> owners;
    const auto windows = x_.clientWindows();
    if (!windows) return owners;
    std::vector<pid_t> seen;
    for (const linux_source::ClientWindow& window : *windows) {
      if (std::find(seen.begin(), seen.end(), window.pid) != seen.end()) continue;
      seen.push_back(window.pid);
      if (auto application = applicationOf(window.pid)) owners.push_back(*application);
    }
    return owners;
  }

  ApplicationElement windowsOf(pid_t pid) {
    ApplicationElement element;
    const auto windows = x_.clientWindows();
    if (!windows) {
      element.windowsStatus = kAXErrorCannotComplete;
      return element;
    }
    for (const linux_source::ClientWindow& window : *windows) {
      if (window.pid != pid) continue;
      if (window.title) element.windows.push_back(Window{kAXErrorSuccess, ValueKind::expected, *window.title});
      else element.windows.push_back(Window{kAXErrorNoValue, ValueKind::expected, {}});
    }
    return element;
  }

  linux_source::IdentityPlaces places_;
  linux_source::KnownIdentities known_;
  linux_source::PulseConnection pulse_;
  linux_source::XDisplay x_;
};

}  // namespace

Source& activeSource() {
  static LinuxSystem system;
  return system;
}

}  // namespace model
