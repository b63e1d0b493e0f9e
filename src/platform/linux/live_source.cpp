// The running Linux system as the platform model's source.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "platform/linux/identity/desktop_entries.h"
#include "platform/linux/identity/identity.h"
#include "platform/linux/identity/process_files.h"
#include "platform/linux/sound/alsa_captures.h"
#include "platform/linux/sound/pulse_connection.h"
#include "platform/linux/sound/sound_hal.h"
#include "platform/linux/windows/window_sources.h"
#include "platform/model/source.h"

namespace model {
namespace {

// An lvalue, so that choosing between it and a listing copies neither.
const linux_source::SoundServerState kNoListing{};

std::optional<std::string> unlessEmpty(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

class LinuxSystem final : public Source {
 public:
  LinuxSystem() { places_.dataDirs = linux_source::sessionDataDirs(); }

  void refresh(Scene& scene, Moment moment, pid_t pid) override {
    switch (moment) {
      case Moment::processList: {
        // The first question of every cycle: the buses' questions that
        // follow share one bound from here, and its questions about
        // processes one look at /proc.
        windows_.beginCycle();
        newLook();
        // What was made of a listing stands while the listing does.
        const linux_source::SoundServerState* listing = pulse_.listing();
        if (!processesMade_ || *processesMade_ != pulse_.generation()) {
          linux_source::putProcessObjects(listing != nullptr ? *listing : kNoListing, scene);
          processesMade_ = pulse_.generation();
          ++epoch_;
        }
        break;
      }
      case Moment::deviceList: {
        const linux_source::SoundServerState* listing = pulse_.listing();
        const std::size_t direct = linux_source::capturesOutsideSoundServer(places_.root);
        if (!devicesMade_ || *devicesMade_ != std::make_pair(pulse_.generation(), direct)) {
          linux_source::putDevices(listing != nullptr ? *listing : kNoListing, direct, scene);
          devicesMade_ = std::make_pair(pulse_.generation(), direct);
        }
        break;
      }
      case Moment::applicationLookup:
        scene.registry.clear();
        if (auto application = applicationOf(pid)) scene.registry[pid] = *application;
        break;
      case Moment::trust:
        scene.trusted = windows_.titlesReadable();
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
  // A cycle asks about its processes in several moments; they share one
  // look at /proc, and the next cycle, however soon, looks afresh.
  void newLook() {
    look_.reset();
    look_.emplace(places_.root);
  }

  std::optional<Application> applicationOf(pid_t pid) {
    const auto identity = linux_source::identifyKnown(pid, places_, known_, epoch_);
    if (!identity) return std::nullopt;
    return Application{pid, unlessEmpty(identity->bundleIdentifier), unlessEmpty(identity->name)};
  }

  // The running applications are the processes that own a window.
  std::vector<Application> windowOwners() {
    const std::vector<linux_source::WindowOwner> listed = windows_.owners();
    std::vector<pid_t> pids;
    for (const linux_source::WindowOwner& owner : listed) pids.push_back(owner.pid);
    if (pids != ownerPids_) {
      ownerPids_ = std::move(pids);
      ++epoch_;
    }
    std::vector<Application> owners;
    for (const linux_source::WindowOwner& owner : listed)
      if (auto application = applicationOf(owner.pid)) owners.push_back(*application);
    return owners;
  }

  ApplicationElement windowsOf(pid_t pid) {
    ApplicationElement element;
    if (auto windows = windows_.windowsOf(pid)) element.windows = std::move(*windows);
    else element.windowsStatus = kAXErrorCannotComplete;
    return element;
  }

  linux_source::IdentityPlaces places_;
  std::optional<linux_source::ProcessLook> look_;
  linux_source::KnownIdentities known_;
  // A new epoch whenever the pids the sound server or the windows name have
  // changed; within one, a known identity is not looked at again.
  std::uint64_t epoch_ = 1;
  std::vector<pid_t> ownerPids_;
  std::optional<std::uint64_t> processesMade_;
  std::optional<std::pair<std::uint64_t, std::size_t>> devicesMade_;
  linux_source::PulseConnection pulse_;
  linux_source::WindowSources windows_;
};

}  // namespace

Source& activeSource() {
  static LinuxSystem system;
  return system;
}

}  // namespace model
