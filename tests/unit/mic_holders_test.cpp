#include "audio/mic_holders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "model_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

MATCHER_P3(IsHolder, pid, bundle, name, "") {
  return arg.pid == pid && arg.bundle == bundle && arg.name == name;
}

class MicHolders : public ModelTest {
 protected:
  static std::vector<std::string> halCalls() { return callsStartingWith("AudioObject"); }
  static std::string lookUp(pid_t pid) {
    return "runningApplicationWithProcessIdentifier:(" + std::to_string(pid) + ")";
  }
  static std::string listSize() { return sizeQuery(1, kAudioHardwarePropertyProcessObjectList); }
  static std::string listData(UInt32 capacity) { return dataQuery(1, kAudioHardwarePropertyProcessObjectList, capacity); }
  static std::string readOf(AudioObjectID object, AudioObjectPropertySelector selector) {
    return dataQuery(object, selector, selector == kAudioProcessPropertyBundleID ? 8 : 4);
  }
  // What the found application was asked, in the order it was asked.
  static std::vector<std::string> applicationReads() {
    std::vector<std::string> reads;
    for (const std::string& call : model::calls())
      if (call.rfind("bundleIdentifier", 0) == 0 || call.rfind("localizedName", 0) == 0) reads.push_back(call);
    return reads;
  }
};

TEST_F(MicHolders, VersionGate) {
  struct Case {
    model::OperatingSystemVersion version;
    bool asks;
  };
  const std::vector<Case> cases = {
      {{14, 0, 0}, false}, {{14, 1, 9}, false}, {{13, 6, 0}, false},
      {{14, 2, 0}, true},  {{14, 3, 0}, true},  {{15, 0, 0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version.major) + "." + std::to_string(c.version.minor));
    model::reset();
    scene().version = c.version;
    setProcessList({10});
    addProcess(10, true, 100, "org.example.rec");
    const auto holders = micHolders();
    EXPECT_EQ(model::calls().front(), "operatingSystemAtLeast(14.2.0)");
    if (c.asks) {
      EXPECT_THAT(holders, ElementsAre(IsHolder(100, "org.example.rec", "")));
    } else {
      EXPECT_THAT(holders, IsEmpty());
      EXPECT_THAT(halCalls(), IsEmpty()) << "no audio query below 14.2";
    }
  }
}

TEST_F(MicHolders, ListFailures) {
  struct Case {
    const char* what;
    model::PropertyAnswer list;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"size query fails", model::failing(kAudioHardwareUnknownPropertyError), {listSize()}},
      {"size 0", model::idList({}), {listSize()}},
      {"size 3", model::notWritten(3), {listSize()}},
      {"data query fails", model::failingData(kAudioHardwareBadObjectError), {listSize(), listData(4)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    setGlobal(1, kAudioHardwarePropertyProcessObjectList, c.list);
    addProcess(0, true, 1, "zero");  // would be walked if the list were read
    EXPECT_THAT(micHolders(), IsEmpty());
    EXPECT_EQ(halCalls(), c.calls);
  }
}

TEST_F(MicHolders, OnlyTheCapturingProcessIsDescribed) {
  setProcessList({10, 11, 12});
  addProcess(10, false, 100, "a");
  addProcess(11, true, 101, "org.example.b");
  addProcess(12, false, 102, "c");
  addApplication(101, "ignored", "Bee");
  EXPECT_THAT(micHolders(), ElementsAre(IsHolder(101, "org.example.b", "Bee")));
  EXPECT_EQ(model::calls(),
            (std::vector<std::string>{"operatingSystemAtLeast(14.2.0)", listSize(), listData(12),
                                      readOf(10, kAudioProcessPropertyIsRunningInput),
                                      readOf(11, kAudioProcessPropertyIsRunningInput),
                                      readOf(11, kAudioProcessPropertyPID), readOf(11, kAudioProcessPropertyBundleID),
                                      lookUp(101), "localizedName(101)",
                                      readOf(12, kAudioProcessPropertyIsRunningInput)}));
}

TEST_F(MicHolders, WithoutAProcessBundleTheApplicationGivesItsBundleThenItsName) {
  setProcessList({10});
  addProcess(10, true, 100, std::nullopt);
  addApplication(100, "org.example.fromApp", "Recorder");
  EXPECT_THAT(micHolders(), ElementsAre(IsHolder(100, "org.example.fromApp", "Recorder")));
  EXPECT_EQ(model::calls(),
            (std::vector<std::string>{"operatingSystemAtLeast(14.2.0)", listSize(), listData(4),
                                      readOf(10, kAudioProcessPropertyIsRunningInput),
                                      readOf(10, kAudioProcessPropertyPID), readOf(10, kAudioProcessPropertyBundleID),
                                      lookUp(100), "bundleIdentifier(100)", "localizedName(100)"}));
}

TEST_F(MicHolders, EveryCapturingProcessInListOrderWithoutMerging) {
  setProcessList({30, 20, 10, 40});
  addProcess(30, true, 3, "org.example.three");
  addProcess(20, true, 2, "org.example.two");
  addProcess(10, true, 3, "org.example.three");
  addProcess(40, true, 3, "org.example.other");
  EXPECT_THAT(micHolders(),
              ElementsAre(IsHolder(3, "org.example.three", ""), IsHolder(2, "org.example.two", ""),
                          IsHolder(3, "org.example.three", ""), IsHolder(3, "org.example.other", "")));
}

TEST_F(MicHolders, RunningInputThatIsNotAnswered) {
  struct Case {
    const char* what;
    model::PropertyAnswer running;
  };
  const std::vector<Case> cases = {
      {"fails", model::failing(kAudioHardwareBadObjectError)},
      {"status 0 without writing the flag", model::notWritten(4)},
      {"flag 0", model::uint32Value(0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    setProcessList({10});
    addProcess(10, true, 100, "x");
    setGlobal(10, kAudioProcessPropertyIsRunningInput, c.running);
    EXPECT_THAT(micHolders(), IsEmpty());
    EXPECT_EQ(halCalls().back(), readOf(10, kAudioProcessPropertyIsRunningInput));
  }
}

TEST_F(MicHolders, PidThatCannotBeReadIsMinusOneAndStillLookedUp) {
  struct Case {
    const char* what;
    model::PropertyAnswer pid;
  };
  const std::vector<Case> cases = {
      {"read fails", model::failing(kAudioHardwareBadObjectError)},
      {"status 0 without writing", model::notWritten(4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    setProcessList({10});
    addProcess(10, true, 100, std::nullopt);
    setGlobal(10, kAudioProcessPropertyPID, c.pid);
    addApplication(-1, "org.example.minus", "Minus");
    EXPECT_THAT(micHolders(), ElementsAre(IsHolder(-1, "org.example.minus", "Minus")));
    EXPECT_THAT(callsStartingWith("runningApplication"), ElementsAre(lookUp(-1)));
  }
}

TEST_F(MicHolders, BundleAndNameFallbacks) {
  struct Case {
    const char* what;
    model::PropertyAnswer bundle;
    std::optional<model::Application> application;
    Holder expected;
    std::vector<std::string> asked;
  };
  const model::Application app{100, "org.example.fromApp", "Recorder"};
  const std::vector<Case> cases = {
      {"process bundle, application found", model::stringReference("org.example.proc"), app,
       {100, "org.example.proc", "Recorder"}, {"localizedName(100)"}},
      {"process bundle, no application", model::stringReference("org.example.proc"), std::nullopt,
       {100, "org.example.proc", ""}, {}},
      {"no process bundle, application found", model::nullReference(), app,
       {100, "org.example.fromApp", "Recorder"}, {"bundleIdentifier(100)", "localizedName(100)"}},
      {"no process bundle, no application", model::nullReference(), std::nullopt, {100, "", ""}, {}},
      {"zero-length process bundle counts as none", model::stringReference(""), app,
       {100, "org.example.fromApp", "Recorder"}, {"bundleIdentifier(100)", "localizedName(100)"}},
      {"bundle read fails", model::failing(kAudioHardwareBadObjectError), app,
       {100, "org.example.fromApp", "Recorder"}, {"bundleIdentifier(100)", "localizedName(100)"}},
      {"bundle read does not write", model::notWritten(8), app, {100, "org.example.fromApp", "Recorder"},
       {"bundleIdentifier(100)", "localizedName(100)"}},
      {"application with null texts", model::nullReference(), model::Application{100, std::nullopt, std::nullopt},
       {100, "", ""}, {"bundleIdentifier(100)", "localizedName(100)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    setProcessList({10});
    addProcess(10, true, 100, std::nullopt);
    setGlobal(10, kAudioProcessPropertyBundleID, c.bundle);
    if (c.application) scene().registry[100] = *c.application;
    EXPECT_THAT(micHolders(), ElementsAre(IsHolder(c.expected.pid, c.expected.bundle, c.expected.name)));
    EXPECT_EQ(applicationReads(), c.asked);
    EXPECT_EQ(model::heldReferences(), 0u) << "the bundle reference is released, also when empty";
  }
}

TEST_F(MicHolders, ShortListAnswerWalksUnfilledSlotsAsObjectZero) {
  model::PropertyAnswer list = model::idList({11});
  list.announcedSize = 12;
  setGlobal(1, kAudioHardwarePropertyProcessObjectList, list);
  addProcess(11, true, 101, "org.example.one");
  addProcess(0, true, 0, "org.example.zero");
  EXPECT_THAT(micHolders(), ElementsAre(IsHolder(101, "org.example.one", ""), IsHolder(0, "org.example.zero", ""),
                                        IsHolder(0, "org.example.zero", "")));
  EXPECT_EQ(halCalls().at(1), listData(12));
}

TEST_F(MicHolders, SizeThatIsNotAWholeNumberOfIdsNeverOverflowsTheBuffer) {
  model::PropertyAnswer list = model::idList({11, 12});
  list.announcedSize = 5;  // one whole ID; the platform holds two
  setGlobal(1, kAudioHardwarePropertyProcessObjectList, list);
  addProcess(11, true, 101, "org.example.one");
  addProcess(12, true, 102, "org.example.two");
  EXPECT_THAT(micHolders(), ElementsAre(IsHolder(101, "org.example.one", "")));
  EXPECT_EQ(halCalls().at(1), listData(4));
}

}  // namespace
