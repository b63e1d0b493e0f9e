// The snapshot line for a typical and a large cycle, against the same data
// serialized by nlohmann::json.
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "holder.h"
#include "report/snapshot_line.h"

namespace {

struct Cycle {
  std::vector<Holder> holders;
  std::vector<std::vector<std::string>> titles;
};

Cycle makeCycle(int holders, int titlesEach) {
  Cycle cycle;
  for (int h = 0; h < holders; ++h) {
    cycle.holders.push_back(Holder{4000 + h, h % 2 == 0 ? "com.google.Chrome" : "us.zoom.xos",
                                   h % 2 == 0 ? "Google Chrome" : "zoom.us"});
    std::vector<std::string> titles;
    for (int t = 0; t < titlesEach; ++t)
      titles.push_back("Weekly sync \"Q" + std::to_string(t % 4 + 1) + "\" \xE2\x80\x94 Meet - Google Chrome");
    cycle.titles.push_back(std::move(titles));
  }
  return cycle;
}

const Cycle& typical() {
  static const Cycle cycle = [] {
    Cycle c = makeCycle(2, 0);
    c.titles[0] = std::vector<std::string>(8, "Weekly sync \xE2\x80\x94 Meet - Google Chrome");
    return c;
  }();
  return cycle;
}

const Cycle& large() {
  static const Cycle cycle = makeCycle(100, 24);
  return cycle;
}

void ours(benchmark::State& state, const Cycle& cycle) {
  for (auto _ : state) {
    std::vector<std::string> objects;
    objects.reserve(cycle.holders.size());
    for (std::size_t i = 0; i < cycle.holders.size(); ++i) objects.push_back(holderObject(cycle.holders[i], cycle.titles[i]));
    std::string line = snapshotLine(true, objects, true);
    benchmark::DoNotOptimize(line);
  }
}

void library(benchmark::State& state, const Cycle& cycle) {
  for (auto _ : state) {
    nlohmann::json holders = nlohmann::json::array();
    for (std::size_t i = 0; i < cycle.holders.size(); ++i) {
      const Holder& h = cycle.holders[i];
      holders.push_back({{"pid", h.pid}, {"bundle", h.bundle}, {"name", h.name}, {"titles", cycle.titles[i]}});
    }
    const nlohmann::json line = {{"micInUse", true}, {"holders", std::move(holders)}, {"ax", true}};
    std::string text = line.dump();
    benchmark::DoNotOptimize(text);
  }
}

void SnapshotLine_Typical(benchmark::State& state) { ours(state, typical()); }
void Nlohmann_Typical(benchmark::State& state) { library(state, typical()); }
void SnapshotLine_Large(benchmark::State& state) { ours(state, large()); }
void Nlohmann_Large(benchmark::State& state) { library(state, large()); }

}  // namespace

BENCHMARK(SnapshotLine_Typical);
BENCHMARK(Nlohmann_Typical);
BENCHMARK(SnapshotLine_Large);
BENCHMARK(Nlohmann_Large);
