// Runs every benchmark, then prints how many times faster the snapshot line
// is than nlohmann::json on the same data, from the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const char* size : {"Typical", "Large"}) {
      const auto ours = times_.find(std::string("SnapshotLine_") + size);
      const auto theirs = times_.find(std::string("Nlohmann_") + size);
      if (ours == times_.end() || theirs == times_.end() || ours->second <= 0) continue;
      std::printf("snapshot line, %s cycle: %.2f times as fast as nlohmann::json\n", size,
                  theirs->second / ours->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
