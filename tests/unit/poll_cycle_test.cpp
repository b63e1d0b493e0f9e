#include "cycle/poll_cycle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "model_fixture.h"
#include "recording_stream.h"
#include "strict_json.h"

namespace {

using ::testing::ElementsAre;

class PollCycle : public ModelTest {
 protected:
  std::string cycle() {
    RecordingStream out;
    writeSnapshot(out.file());
    return out.written();
  }
  // The record (or a part of it) reduced to the steps of the cycle.
  static std::vector<std::string> steps(const std::vector<std::string>& calls = model::calls()) {
    std::vector<std::string> steps;
    for (const std::string& call : calls) {
      const auto step = [&]() -> std::string {
        if (call == sizeQuery(1, kAudioHardwarePropertyProcessObjectList)) return "micHolders";
        if (call == sizeQuery(1, kAudioHardwarePropertyDevices)) return "anyInputRunning";
        if (call == "runningApplications") return "titles";
        if (call == "AXIsProcessTrusted" || call == "write") return call;
        return "";
      }();
      if (!step.empty()) steps.push_back(step);
    }
    return steps;
  }
};

TEST_F(PollCycle, MicInUseFromHoldersOrRunningInput) {
  struct Case {
    const char* what;
    bool holder;
    bool inputRunning;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"neither", false, false, R"({"micInUse":false,"holders":[],"ax":false})"},
      {"running input only", false, true, R"({"micInUse":true,"holders":[],"ax":false})"},
      {"holder only", true, false,
       R"({"micInUse":true,"holders":[{"pid":300,"bundle":"org.example.rec","name":"","titles":[]}],"ax":false})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    setProcessList(c.holder ? std::vector<AudioObjectID>{30} : std::vector<AudioObjectID>{});
    addProcess(30, true, 300, "org.example.rec");
    setDeviceList({5});
    addDevice(5, {2}, c.inputRunning);
    EXPECT_EQ(cycle(), std::string(c.line) + "\n");
    EXPECT_THAT(steps(), ElementsAre("micHolders", "anyInputRunning", "AXIsProcessTrusted", "write"));
  }
}

TEST_F(PollCycle, EachCycleRunsWhollyInsideAnAutoreleasePoolOfItsOwn) {
  scene().trusted = true;
  setProcessList({30});
  addProcess(30, true, 300, "com.google.Chrome");
  addApplication(300, "com.google.Chrome", "Google Chrome");
  windowsOf(300, {"Weekly sync"});
  setDeviceList({5});
  addDevice(5, {2}, true);
  cycle();
  cycle();
  // Every call goes to the pool it was made in; none is made outside a pool,
  // and no pool opens inside another.
  std::vector<std::vector<std::string>> pools;
  bool inside = false;
  for (const std::string& call : model::calls()) {
    if (call == "autoreleasePoolPush") {
      ASSERT_FALSE(inside) << "a pool inside the cycle's pool";
      pools.emplace_back();
      inside = true;
    } else if (call == "autoreleasePoolPop") {
      ASSERT_TRUE(inside) << "a pool ends that never began";
      inside = false;
    } else {
      ASSERT_TRUE(inside) << call << " outside any pool";
      pools.back().push_back(call);
    }
  }
  EXPECT_FALSE(inside) << "the last pool never ends";
  ASSERT_EQ(pools.size(), 2u) << "one pool per cycle";
  for (const std::vector<std::string>& pool : pools) {
    ASSERT_FALSE(pool.empty());
    EXPECT_EQ(pool.front(), "operatingSystemAtLeast(14.2.0)");
    EXPECT_THAT(steps(pool), ElementsAre("micHolders", "AXIsProcessTrusted", "titles", "anyInputRunning",
                                         "AXIsProcessTrusted", "write"));
  }
}

TEST_F(PollCycle, TrustIsAskedOnItsOwnAndReported) {
  scene().trusted = true;
  EXPECT_EQ(cycle(), "{\"micInUse\":false,\"holders\":[],\"ax\":true}\n");
  EXPECT_THAT(callsStartingWith("AXIsProcessTrusted"), ElementsAre("AXIsProcessTrusted"));
}

TEST_F(PollCycle, BrowserHoldersEachGetTheirOwnTitles) {
  scene().trusted = true;
  setProcessList({30, 31, 32, 33});
  addProcess(30, true, 300, "com.google.Chrome");
  addProcess(31, true, 310, "org.example.recorder");
  addProcess(32, true, 320, "org.mozilla.firefox");
  addProcess(33, true, 330, std::nullopt);
  addApplication(300, "com.google.Chrome", "Google Chrome");
  addApplication(320, "org.mozilla.firefox", "Firefox");
  windowsOf(300, {"Weekly sync"});
  windowsOf(320, {"Stand-up", "Plan \"Q3\""});
  const std::string line = cycle();
  EXPECT_EQ(line,
            R"({"micInUse":true,"holders":[)"
            R"({"pid":300,"bundle":"com.google.Chrome","name":"Google Chrome","titles":["Weekly sync"]},)"
            R"({"pid":310,"bundle":"org.example.recorder","name":"","titles":[]},)"
            R"({"pid":320,"bundle":"org.mozilla.firefox","name":"Firefox","titles":["Stand-up","Plan 'Q3'"]},)"
            R"({"pid":330,"bundle":"","name":"","titles":[]}],"ax":true})"
            "\n");
  EXPECT_THAT(steps(), ElementsAre("micHolders", "AXIsProcessTrusted", "titles", "AXIsProcessTrusted", "titles",
                                   "anyInputRunning", "AXIsProcessTrusted", "write"));
  EXPECT_THAT(callsStartingWith("AXUIElementCreateApplication"),
              ElementsAre("AXUIElementCreateApplication(300)", "AXUIElementCreateApplication(320)"));
}

TEST_F(PollCycle, HoldersThatAreNotBrowsersCauseNoTitleCall) {
  scene().trusted = true;
  setProcessList({30, 31});
  addProcess(30, true, 300, "com.google.Chrom");  // one letter short of an entry
  addProcess(31, true, 310, "COM.GOOGLE.CHROME");
  addApplication(300, "com.google.Chrome", "Chrome");
  windowsOf(300, {"never read"});
  const auto value = json::parse(cycle());
  ASSERT_TRUE(value);
  EXPECT_EQ(value->member("holders")->items.size(), 2u);
  EXPECT_THAT(steps(), ElementsAre("micHolders", "anyInputRunning", "AXIsProcessTrusted", "write"));
}

}  // namespace
