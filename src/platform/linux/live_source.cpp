// The running Linux system as the platform model's source.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "platform/linux/identity/desktop_entries.h"
#include "platform/linux/identity/identity.h"
#include "platform/linux/identity/process_files.h"
#include "platform/linux/sigpipe_guard.h"
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
        windowsAsked_ = true;
        break;
      case Moment::windows:
        windowsAsked_ = true;
        scene.elements.clear();
        scene.elements[pid] = windowsOf(pid);
        break;
    }
  }

  // The sound server's notices, and the X server's while a cycle asks for
  // windows (a browser holder's titles); any other window's changes cannot
  // alter the answer. Both are read as they come, so that neither connection
  // fills up, and a broken one counts as a change: the answer may be that
  // nothing is known any more.
  bool waitForChange(linux_source::Clock::time_point until) override {
    using linux_source::Clock;
    using linux_source::XDisplay;
    linux_source::SigpipeGuard guard;
    const bool windowsWatched = std::exchange(windowsAsked_, false);
    XDisplay& x = windows_.xNotices();
    for (;;) {
      const bool sound = pulse_.takeNotices();
      const bool windows = x.takeNotices();
      if (sound || x.broken() || (windowsWatched && windows)) return true;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return false;
      std::vector<pollfd> descriptors = pulse_.noticeDescriptors();
      // libpulse stops asking to read a connection while it still holds part
      // of what came; whatever comes next must wake this wait all the same.
      for (pollfd& descriptor : descriptors) descriptor = pollfd{descriptor.fd, POLLIN, 0};
      if (x.noticeDescriptor() >= 0) descriptors.push_back(pollfd{x.noticeDescriptor(), POLLIN, 0});
      if (::poll(descriptors.data(), descriptors.size(), static_cast<int>(left)) < 0 && errno != EINTR) return false;
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
  bool windowsAsked_ = false;  // since the last wait
};

}  // namespace

Source& activeSource() {
  static LinuxSystem system;
  return system;
}

}  // namespace model
