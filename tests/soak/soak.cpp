// 100,000 cycles in one process over a model that changes every cycle:
// holders come and go, devices start and stop, windows open and close.
// Resident memory at the end must be within 256 KiB of its value after the
// first 1,000 cycles, and no reference may be held after any cycle.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "cycle/poll_cycle.h"
#include "platform/model/model.h"

namespace {

constexpr long kCycles = 100000;
constexpr long kWarmUp = 1000;
constexpr long kAllowedGrowth = 256 * 1024;

long residentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}


// The machine at cycle n: everything in it moves with n.
model::Scene sceneAt(long n) {
  model::Scene scene;
  scene.trusted = n % 7 != 0;
  std::vector<AudioObjectID> processes;
  const long holders = n % 5;
  for (long i = 0; i < holders + 1; ++i) {
    const auto id = static_cast<AudioObjectID>(10 + i);
    processes.push_back(id);
    const pid_t pid = static_cast<pid_t>(1000 + (n + i) % 9);
    model::setGlobal(scene, id, kAudioProcessPropertyIsRunningInput, model::uint32Value(i < holders ? 1 : 0));
    model::setGlobal(scene, id, kAudioProcessPropertyPID, model::int32Value(pid));
    model::setGlobal(scene, id, kAudioProcessPropertyBundleID,
              i % 2 == 0 ? model::stringReference(i % 4 == 0 ? "com.google.Chrome" : "org.mozilla.firefox")
                         : model::nullReference());
    scene.registry[pid] = model::Application{pid, "org.mozilla.firefox", "Browser " + std::to_string(n % 13)};
  }
  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, model::idList(processes));
  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyDevices, model::idList({50, 51}));
  model::setProperty(scene, 50, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
                     model::bufferList({}));
  model::setGlobal(scene, 50, kAudioDevicePropertyDeviceIsRunningSomewhere, model::uint32Value(1));
  model::setProperty(scene, 51, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
                     model::bufferList({static_cast<UInt32>(n % 3)}));
  model::setGlobal(scene, 51, kAudioDevicePropertyDeviceIsRunningSomewhere, model::uint32Value(n % 2 == 0 ? 1 : 0));
  for (long app = 0; app < 3; ++app) {
    const pid_t pid = static_cast<pid_t>(2000 + app);
    scene.workspace.push_back(
        model::Application{pid, app == 1 ? "com.google.Chrome.helper" : (app == 0 ? "com.google.Chrome" : "org.mozilla.firefox"), "App"});
    model::ApplicationElement& element = scene.elements[pid];
    for (long w = 0; w < (n + app) % 15; ++w)
      element.windows.push_back(model::Window{kAXErrorSuccess, model::ValueKind::expected,
                                              "Window " + std::to_string(w) + " of cycle " + std::to_string(n)});
  }
  return scene;
}

}  // namespace

int main() {
  model::reset();
  model::setRecording(false);
  std::FILE* out = std::fopen("/dev/null", "w");
  if (out == nullptr) return 2;
  long afterWarmUp = 0;
  for (long n = 0; n < kCycles; ++n) {
    model::scene() = sceneAt(n);
    writeSnapshot(out);
    if (model::heldReferences() != 0 || model::badReleases() != 0) {
      std::printf("cycle %ld: %zu references held, %zu released twice\n", n, model::heldReferences(),
                  model::badReleases());
      return 1;
    }
    if (n + 1 == kWarmUp) afterWarmUp = residentBytes();
  }
  std::fclose(out);
  const long atEnd = residentBytes();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("cycles: %ld\nresident after %ld cycles: %ld KiB\nresident at the end: %ld KiB\n"
              "growth: %ld bytes (allowed %ld)\npeak resident: %ld KiB\n",
              kCycles, kWarmUp, afterWarmUp / 1024, atEnd / 1024, atEnd - afterWarmUp, kAllowedGrowth,
              usage.ru_maxrss);
  if (atEnd - afterWarmUp > kAllowedGrowth) {
    std::printf("resident memory grew too much\n");
    return 1;
  }
  return 0;
}
