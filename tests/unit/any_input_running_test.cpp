#include "audio/any_input_running.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "model_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class AnyInputRunning : public ModelTest {
 protected:
  static std::string listSize() { return sizeQuery(1, kAudioHardwarePropertyDevices); }
  static std::string listData(UInt32 capacity) { return dataQuery(1, kAudioHardwarePropertyDevices, capacity); }
  static std::string configSize(AudioObjectID device) {
    return sizeQuery(device, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput);
  }
  static std::string configData(AudioObjectID device, UInt32 size) {
    return dataQuery(device, kAudioDevicePropertyStreamConfiguration, size, kAudioObjectPropertyScopeInput);
  }
  static std::string runningQuery(AudioObjectID device) {
    return dataQuery(device, kAudioDevicePropertyDeviceIsRunningSomewhere, 4);
  }
  static UInt32 blockSize(std::size_t buffers) {
    return static_cast<UInt32>(offsetof(AudioBufferList, mBuffers) + buffers * sizeof(AudioBuffer));
  }
  // The queries a device with input gets: size, data, running.
  static std::vector<std::string> inputDeviceQueries(AudioObjectID device, std::size_t buffers) {
    return {configSize(device), configData(device, blockSize(buffers)), runningQuery(device)};
  }
};

TEST_F(AnyInputRunning, NoDevicesStillReadsTheEmptyList) {
  setDeviceList({});
  EXPECT_FALSE(anyInputRunning());
  EXPECT_THAT(model::calls(), ElementsAre(listSize(), listData(0)));
}

TEST_F(AnyInputRunning, DeviceListFailures) {
  setGlobal(1, kAudioHardwarePropertyDevices, model::failing(kAudioHardwareUnknownPropertyError));
  EXPECT_FALSE(anyInputRunning());
  EXPECT_THAT(model::calls(), ElementsAre(listSize()));

  model::reset();
  setGlobal(1, kAudioHardwarePropertyDevices, model::failingData(kAudioHardwareBadObjectError));
  addDevice(0, {2}, true);
  EXPECT_FALSE(anyInputRunning());
  EXPECT_THAT(model::calls(), ElementsAre(listSize(), listData(4)));
}

TEST_F(AnyInputRunning, DevicesWithoutInputGetNoRunningQuery) {
  struct Case {
    const char* what;
    model::PropertyAnswer configuration;
    std::vector<std::string> queries;
  };
  const std::vector<Case> cases = {
      {"configuration of size 0", model::idList({}), {configSize(5)}},
      {"list without buffers", model::bufferList({}), {configSize(5), configData(5, blockSize(0))}},
      {"buffers of 0 channels", model::bufferList({0, 0}), {configSize(5), configData(5, blockSize(2))}},
      {"size query fails", model::failing(kAudioHardwareBadObjectError), {configSize(5)}},
      {"data query fails", model::failingData(kAudioHardwareBadObjectError), {configSize(5), configData(5, 4)}},
      {"block too small for its count", model::notWritten(3), {configSize(5), configData(5, 3)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    setDeviceList({5});
    addDevice(5, {}, true);  // running, as an output device may be
    setProperty(5, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput, c.configuration);
    EXPECT_FALSE(anyInputRunning());
    std::vector<std::string> expected = {listSize(), listData(4)};
    expected.insert(expected.end(), c.queries.begin(), c.queries.end());
    EXPECT_EQ(model::calls(), expected);
  }
}

TEST_F(AnyInputRunning, ChannelsOfAllBuffersAddUp) {
  setDeviceList({5});
  addDevice(5, {0, 2}, true);
  EXPECT_TRUE(anyInputRunning());
  EXPECT_EQ(model::calls().back(), runningQuery(5));
}

TEST_F(AnyInputRunning, IdleThenRunning) {
  setDeviceList({5, 6});
  addDevice(5, {1}, false);
  addDevice(6, {2}, true);
  EXPECT_TRUE(anyInputRunning());
  std::vector<std::string> expected = {listSize(), listData(8)};
  for (const auto& q : inputDeviceQueries(5, 1)) expected.push_back(q);
  for (const auto& q : inputDeviceQueries(6, 1)) expected.push_back(q);
  EXPECT_EQ(model::calls(), expected);
}

TEST_F(AnyInputRunning, RunningFirstEndsTheWalk) {
  setDeviceList({5, 6, 7});
  addDevice(5, {2}, true);
  addDevice(6, {2}, true);
  addDevice(7, {2}, true);
  EXPECT_TRUE(anyInputRunning());
  std::vector<std::string> expected = {listSize(), listData(12)};
  for (const auto& q : inputDeviceQueries(5, 1)) expected.push_back(q);
  EXPECT_EQ(model::calls(), expected);
}

TEST_F(AnyInputRunning, RunningQueryWithoutAnAnswerDoesNotCount) {
  struct Case {
    const char* what;
    model::PropertyAnswer running;
  };
  const std::vector<Case> cases = {
      {"fails", model::failing(kAudioHardwareBadObjectError)},
      {"status 0 without writing", model::notWritten(4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    setDeviceList({5, 6});
    addDevice(5, {2}, true);
    setGlobal(5, kAudioDevicePropertyDeviceIsRunningSomewhere, c.running);
    addDevice(6, {1}, false);
    EXPECT_FALSE(anyInputRunning());
    EXPECT_EQ(model::calls().back(), runningQuery(6)) << "the walk goes on";
  }
}

TEST_F(AnyInputRunning, OutputOnlyDeviceThatRunsDoesNotCount) {
  setDeviceList({5});
  addDevice(5, {}, true);
  EXPECT_FALSE(anyInputRunning());
  EXPECT_THAT(callsStartingWith(dataQuery(5, kAudioDevicePropertyDeviceIsRunningSomewhere, 4)), ElementsAre());
}

TEST_F(AnyInputRunning, ShortListAnswerWalksUnfilledSlotsAsDeviceZero) {
  model::PropertyAnswer list = model::idList({5});
  list.announcedSize = 8;
  setGlobal(1, kAudioHardwarePropertyDevices, list);
  addDevice(5, {2}, false);
  addDevice(0, {2}, true);
  EXPECT_TRUE(anyInputRunning());
  EXPECT_EQ(model::calls().at(1), listData(8));
  EXPECT_EQ(model::calls().back(), runningQuery(0));
}

TEST_F(AnyInputRunning, SizeThatIsNotAWholeNumberOfIdsNeverOverflowsTheBuffer) {
  model::PropertyAnswer list = model::idList({5, 6});
  list.announcedSize = 7;
  setGlobal(1, kAudioHardwarePropertyDevices, list);
  addDevice(5, {0}, false);
  addDevice(6, {2}, true);
  EXPECT_FALSE(anyInputRunning()) << "only the one whole ID is walked";
  EXPECT_EQ(model::calls().at(1), listData(4));
}

// A block that announces more buffers than it holds: only records wholly
// inside the block count, and nothing past its end is read (the sanitizers
// would see it).
TEST_F(AnyInputRunning, BlockTooShortForItsCount) {
  struct Case {
    const char* what;
    UInt32 announcedBuffers;
    std::vector<UInt32> channels;  // records actually in the block
    std::size_t extraBytes;        // a partial record after them
    bool counts;
  };
  const std::vector<Case> cases = {
      {"three announced, one of 0 channels", 3, {0}, 0, false},
      {"three announced, one of 2 channels", 3, {2}, 0, true},
      {"partial second record is not read", 2, {0}, 8, false},
      {"count alone", 1, {}, 0, false},
      {"count of all ones", 0xFFFFFFFF, {0, 0}, 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    model::PropertyAnswer block = model::bufferList(c.channels);
    std::memcpy(block.bytes.data(), &c.announcedBuffers, sizeof c.announcedBuffers);
    // A partial record whose first field would claim channels if it were read.
    for (std::size_t i = 0; i < c.extraBytes; ++i) block.bytes.push_back(i == 0 ? 9 : 0);
    setDeviceList({5});
    addDevice(5, {}, true);
    setProperty(5, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput, block);
    EXPECT_EQ(anyInputRunning(), c.counts);
  }
}

}  // namespace
