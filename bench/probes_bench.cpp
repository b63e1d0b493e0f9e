// The probes over the platform model at 10, 1,000 and 100,000 objects: the
// cost should grow linearly, and per_object is what one object costs.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "audio/any_input_running.h"
#include "audio/mic_holders.h"
#include "platform/model/model.h"
#include "windows/titles.h"

namespace {


void fresh() {
  model::reset();
  model::setRecording(false);
}

// The time one object costs, in seconds (printed as "243n" for 243 ns).
void perObject(benchmark::State& state) {
  state.SetComplexityN(state.range(0));
  state.counters["per_object"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

// n process objects, one in ten capturing, each with a bundle and an application.
void MicHolders(benchmark::State& state) {
  fresh();
  const auto n = static_cast<AudioObjectID>(state.range(0));
  model::Scene& scene = model::scene();
  std::vector<AudioObjectID> ids;
  for (AudioObjectID i = 0; i < n; ++i) {
    const AudioObjectID id = 100 + i;
    ids.push_back(id);
    model::setGlobal(scene, id, kAudioProcessPropertyIsRunningInput, model::uint32Value(i % 10 == 0 ? 1 : 0));
    model::setGlobal(scene, id, kAudioProcessPropertyPID, model::int32Value(static_cast<SInt32>(i)));
    model::setGlobal(scene, id, kAudioProcessPropertyBundleID, model::stringReference("org.example.recorder"));
    scene.registry[static_cast<pid_t>(i)] = model::Application{static_cast<pid_t>(i), "org.example.app", "App"};
  }
  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, model::idList(ids));
  for (auto _ : state) benchmark::DoNotOptimize(micHolders());
  perObject(state);
}

// n devices, none running, so that every one is walked.
void AnyInputRunning(benchmark::State& state) {
  fresh();
  const auto n = static_cast<AudioObjectID>(state.range(0));
  model::Scene& scene = model::scene();
  std::vector<AudioObjectID> ids;
  for (AudioObjectID i = 0; i < n; ++i) {
    const AudioObjectID id = 100 + i;
    ids.push_back(id);
    model::setProperty(scene, id, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
                       model::bufferList({i % 2 == 0 ? 2u : 0u}));
    model::setGlobal(scene, id, kAudioDevicePropertyDeviceIsRunningSomewhere, model::uint32Value(0));
  }
  model::setGlobal(scene, kAudioObjectSystemObject, kAudioHardwarePropertyDevices, model::idList(ids));
  for (auto _ : state) benchmark::DoNotOptimize(anyInputRunning());
  perObject(state);
}

// n running applications, the last two of them the browser's, 12 windows each.
void Titles(benchmark::State& state) {
  fresh();
  const auto n = static_cast<pid_t>(state.range(0));
  model::Scene& scene = model::scene();
  scene.trusted = true;
  for (pid_t pid = 0; pid < n; ++pid) {
    const bool browser = pid >= n - 2;
    scene.workspace.push_back(model::Application{pid, browser ? "com.google.Chrome" : "org.example.app" + std::to_string(pid % 50), "App"});
    if (!browser) continue;
    for (int w = 0; w < 12; ++w)
      scene.elements[pid].windows.push_back(model::Window{kAXErrorSuccess, model::ValueKind::expected, "Window " + std::to_string(w)});
  }
  for (auto _ : state) benchmark::DoNotOptimize(titles("com.google.Chrome"));
  perObject(state);
}

}  // namespace

BENCHMARK(MicHolders)->Arg(10)->Arg(1000)->Arg(100000)->Complexity(benchmark::oN);
BENCHMARK(AnyInputRunning)->Arg(10)->Arg(1000)->Arg(100000)->Complexity(benchmark::oN);
BENCHMARK(Titles)->Arg(10)->Arg(1000)->Arg(100000)->Complexity(benchmark::oN);
