#include "audio/change_listeners.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/any_input_running.h"
#include "audio/mic_holders.h"
#include "model_fixture.h"
#include "platform/change_wait.h"

namespace {

using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

model::Listener on(AudioObjectID object, AudioObjectPropertySelector selector) {
  return model::Listener{object, selector, kAudioObjectPropertyScopeGlobal};
}

class ChangeListenersTest : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    setProcessList({30, 31});
    addProcess(30, false, 300, "org.example.idle");
    addProcess(31, false, 310, "org.example.rec");
    setDeviceList({5, 6});
    addDevice(5, {2}, false);  // a microphone
    addDevice(6, {}, true);    // a speaker: its running says nothing about input
  }
  void TearDown() override {
    EXPECT_EQ(model::listenersOnVanishedObjects(), 0u) << "a listener left on an object that has gone";
    ModelTest::TearDown();
  }

  static void removeObject(AudioObjectID id) { scene().hal.erase(id); }
  static std::vector<AudioObjectID> listedProcesses() {
    const auto& list = scene().hal[1].properties[{kAudioHardwarePropertyProcessObjectList, kAudioObjectPropertyScopeGlobal}];
    std::vector<AudioObjectID> ids(list.bytes.size() / sizeof(AudioObjectID));
    if (!ids.empty()) std::memcpy(ids.data(), list.bytes.data(), list.bytes.size());
    return ids;
  }
  // Whether a wait that takes no time finds a change told of.
  static bool woken() { return waitForChange(0.0); }
};

TEST_F(ChangeListenersTest, ListensToTheListsEachProcessAndEachInputDevice) {
  ChangeListeners listeners;
  listeners.follow();
  EXPECT_THAT(model::listeners(),
              UnorderedElementsAreArray({on(1, kAudioHardwarePropertyDevices), on(5, kAudioDevicePropertyDeviceIsRunningSomewhere),
                                         on(1, kAudioHardwarePropertyProcessObjectList),
                                         on(30, kAudioProcessPropertyIsRunningInput),
                                         on(31, kAudioProcessPropertyIsRunningInput)}));
  listeners.follow();
  EXPECT_EQ(model::listeners().size(), 5u) << "following again adds nothing";
}

TEST_F(ChangeListenersTest, BeforeMacOS14Point2OnlyTheDevicesAreListenedTo) {
  for (const int minor : {0, 1}) {
    SCOPED_TRACE(minor);
    scene().version = model::OperatingSystemVersion{14, minor, 0};
    {
      ChangeListeners listeners;
      listeners.follow();
      EXPECT_THAT(model::listeners(), UnorderedElementsAreArray({on(1, kAudioHardwarePropertyDevices),
                                                                 on(5, kAudioDevicePropertyDeviceIsRunningSomewhere)}));
      EXPECT_THAT(callsStartingWith("AudioObjectGetPropertyDataSize(1, 'prs#'"), IsEmpty());
    }
    EXPECT_THAT(model::listeners(), IsEmpty()) << "all removed when the listeners go";
  }
}

TEST_F(ChangeListenersTest, ObjectsThatComeAndGoGainAndLoseTheirListeners) {
  ChangeListeners listeners;
  listeners.follow();
  // 31 and the microphone go, 32 and a second microphone come.
  removeObject(31);
  removeObject(5);
  setProcessList({30, 32});
  addProcess(32, true, 320, "org.example.new");
  setDeviceList({6, 7});
  addDevice(7, {1}, true);
  EXPECT_EQ(model::listenersOnVanishedObjects(), 2u);
  listeners.follow();
  EXPECT_THAT(model::listeners(),
              UnorderedElementsAreArray({on(1, kAudioHardwarePropertyDevices), on(7, kAudioDevicePropertyDeviceIsRunningSomewhere),
                                         on(1, kAudioHardwarePropertyProcessObjectList),
                                         on(30, kAudioProcessPropertyIsRunningInput),
                                         on(32, kAudioProcessPropertyIsRunningInput)}));
  EXPECT_THAT(callsStartingWith("AudioObjectRemovePropertyListener"),
              UnorderedElementsAreArray({"AudioObjectRemovePropertyListener(5, 'gone', 'glob')",
                                         "AudioObjectRemovePropertyListener(31, 'piri', 'glob')"}));
}

TEST_F(ChangeListenersTest, AListThatCannotBeReadKeepsItsListeners) {
  ChangeListeners listeners;
  listeners.follow();
  const auto before = model::listeners();
  setGlobal(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, model::failing(kAudioHardwareBadObjectError));
  setGlobal(kAudioObjectSystemObject, kAudioHardwarePropertyDevices, model::failingData(kAudioHardwareBadObjectError));
  listeners.follow();
  EXPECT_EQ(model::listeners(), before);
}

TEST_F(ChangeListenersTest, AnObjectThatGoesBeforeItIsListenedToIsLeftOut) {
  setProcessList({30, 31, 33});  // 33 is listed but has already gone
  ChangeListeners listeners;
  listeners.follow();
  const auto first = model::listeners();
  EXPECT_EQ(std::count(first.begin(), first.end(), on(33, kAudioProcessPropertyIsRunningInput)), 0);
  addProcess(33, true, 330, "org.example.late");  // back before the next cycle: listened to then
  listeners.follow();
  const auto now = model::listeners();
  EXPECT_EQ(std::count(now.begin(), now.end(), on(33, kAudioProcessPropertyIsRunningInput)), 1);
}

// Each event changes the scene as the platform would and fires the listeners
// it would fire. Whatever the order, every event wakes the waiting loop, the
// listener it needs is there when it fires, and the cycle after it sees it.
TEST_F(ChangeListenersTest, EveryEventWakesTheLoopInEveryOrder) {
  struct Event {
    const char* what;
    std::function<void()> change;
    model::Listener fired;
  };
  const std::vector<Event> events = {
      {"31 starts capturing", [] { setGlobal(31, kAudioProcessPropertyIsRunningInput, model::uint32Value(1)); },
       on(31, kAudioProcessPropertyIsRunningInput)},
      {"32 comes, capturing",
       [] {
         auto ids = listedProcesses();
         ids.push_back(32);
         setProcessList(ids);
         addProcess(32, true, 320, "org.example.new");
       },
       on(1, kAudioHardwarePropertyProcessObjectList)},
      {"30 goes",
       [] {
         removeObject(30);
         auto ids = listedProcesses();
         ids.erase(std::remove(ids.begin(), ids.end(), 30u), ids.end());
         setProcessList(ids);
       },
       on(1, kAudioHardwarePropertyProcessObjectList)},
      {"the microphone starts running", [] { setGlobal(5, kAudioDevicePropertyDeviceIsRunningSomewhere, model::uint32Value(1)); },
       on(5, kAudioDevicePropertyDeviceIsRunningSomewhere)},
  };
  std::vector<std::size_t> order(events.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  do {
    std::string orderText;
    for (std::size_t i : order) orderText += std::string(events[i].what) + "; ";
    SCOPED_TRACE(orderText);
    SetUp();
    {
      ChangeListeners listeners;
      listeners.follow();
      EXPECT_FALSE(woken()) << "nothing told of yet";
      for (std::size_t i : order) {
        SCOPED_TRACE(events[i].what);
        events[i].change();
        EXPECT_EQ(model::fireListeners(events[i].fired.object, events[i].fired.selector), 1u);
        EXPECT_TRUE(woken());
        EXPECT_FALSE(woken()) << "one change wakes one wait";
        listeners.follow();  // the cycle it woke
        EXPECT_EQ(model::listenersOnVanishedObjects(), 0u);
      }
      std::vector<pid_t> holders;
      for (const Holder& holder : micHolders()) holders.push_back(holder.pid);
      EXPECT_EQ(holders, (std::vector<pid_t>{310, 320}));
      EXPECT_TRUE(anyInputRunning());
    }
    EXPECT_THAT(model::listeners(), IsEmpty());
    TearDown();
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(ChangeListenersTest, ModelRefusesWhatThePlatformWould) {
  const auto proc = [](AudioObjectID, UInt32, const AudioObjectPropertyAddress*, void*) -> OSStatus { return noErr; };
  const AudioObjectPropertyAddress running{kAudioProcessPropertyIsRunningInput, kAudioObjectPropertyScopeGlobal,
                                           kAudioObjectPropertyElementMain};
  EXPECT_EQ(AudioObjectAddPropertyListener(99, &running, proc, nullptr), kAudioHardwareBadObjectError);
  EXPECT_EQ(AudioObjectAddPropertyListener(30, &running, proc, nullptr), noErr);
  removeObject(30);
  EXPECT_EQ(model::listenersOnVanishedObjects(), 1u);
  EXPECT_EQ(AudioObjectRemovePropertyListener(30, &running, proc, nullptr), kAudioHardwareBadObjectError);
  EXPECT_EQ(model::listenersOnVanishedObjects(), 0u);
  EXPECT_EQ(AudioObjectRemovePropertyListener(31, &running, proc, nullptr), kAudioHardwareUnknownPropertyError);
  EXPECT_THAT(model::misuses(), ::testing::ElementsAre(::testing::HasSubstr("never added")));
  model::reset();  // the misuse was the point
}

}  // namespace
