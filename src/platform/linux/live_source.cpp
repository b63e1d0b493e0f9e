// The running Linux system as the platform model's source.
#include "platform/linux/alsa_captures.h"
#include "platform/linux/pulse_connection.h"
#include "platform/linux/sound_hal.h"
#include "platform/linux/system_root.h"
#include "platform/model/source.h"

namespace model {
namespace {

class LinuxSystem final : public Source {
 public:
  void refresh(Scene& scene, Moment moment, pid_t pid) override {
    switch (moment) {
      case Moment::processList:
        linux_source::putProcessObjects(pulse_.listing().value_or(linux_source::SoundServerState{}), scene);
        break;
      case Moment::deviceList:
        linux_source::putDevices(pulse_.listing().value_or(linux_source::SoundServerState{}),
                                 linux_source::capturesOutsideSoundServer("/"), scene);
        break;
      case Moment::applicationLookup:
        lookUp(scene, pid);
        break;
      case Moment::workspace:
      case Moment::trust:
      case Moment::windows:
        break;
    }
  }

 private:
  static void lookUp(Scene& scene, pid_t pid) {
    scene.registry.clear();
    const auto command = linux_source::commandName("/", pid);
    if (command) scene.registry[pid] = Application{pid, std::nullopt, *command};
  }

  linux_source::PulseConnection pulse_;
};

}  // namespace

Source& activeSource() {
  static LinuxSystem system;
  return system;
}

}  // namespace model
