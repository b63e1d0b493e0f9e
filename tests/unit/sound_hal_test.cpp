#include "platform/linux/sound/sound_hal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/any_input_running.h"
#include "audio/mic_holders.h"
#include "model_fixture.h"

namespace {

using linux_source::CaptureStream;
using linux_source::Client;
using linux_source::InputSource;
using linux_source::kNoIndex;
using linux_source::OutputSink;
using linux_source::SoundServerState;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

MATCHER_P2(IsHolder, pid, bundle, "") { return arg.pid == pid && arg.bundle == bundle; }

// The conversion is checked through the probes themselves, since what matters
// is what they make of the objects.
class SoundHal : public ModelTest {
 protected:
  static SoundServerState withMicAndMonitor() {
    SoundServerState state;
    state.sources = {InputSource{1, 2, false, true}, InputSource{2, 2, true, true}};
    state.sinks = {OutputSink{0, 2, true}};
    return state;
  }
  static CaptureStream stream(std::uint32_t client, std::uint32_t source, linux_source::Properties properties = {}) {
    CaptureStream s;
    s.client = client;
    s.source = source;
    s.properties = std::move(properties);
    return s;
  }
  static std::vector<Holder> holdersOf(const SoundServerState& state) {
    linux_source::putProcessObjects(state, scene());
    return micHolders();
  }
};

TEST_F(SoundHal, WhichStreamsRecordTheMicrophone) {
  struct Case {
    const char* what;
    CaptureStream stream;
    bool records;
  };
  CaptureStream corked = stream(7, 1, {{"application.process.id", "70"}});
  corked.corked = true;
  CaptureStream pulseMeter = stream(7, 1, {{"application.process.id", "70"}});
  pulseMeter.resampleMethod = "peaks";
  const std::vector<Case> cases = {
      {"recorder", stream(7, 1, {{"application.process.id", "70"}}), true},
      {"corked", corked, false},
      {"not linked", stream(7, kNoIndex, {{"application.process.id", "70"}}), false},
      {"monitor of an output", stream(7, 2, {{"application.process.id", "70"}}), false},
      {"PipeWire recording of an output", stream(7, 1, {{"application.process.id", "70"}, {"stream.capture.sink", "true"}}), false},
      {"PulseAudio level meter", pulseMeter, false},
      {"PipeWire level meter", stream(7, 1, {{"application.process.id", "70"}, {"stream.monitor", "true"}, {"resample.peaks", "true"}}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    SoundServerState state = withMicAndMonitor();
    state.streams = {c.stream};
    EXPECT_EQ(linux_source::recordsInput(c.stream, state), c.records);
    EXPECT_EQ(holdersOf(state).size(), c.records ? 1u : 0u);
    linux_source::putDevices(state, 0, scene());
    EXPECT_EQ(anyInputRunning(), c.records) << "a source that only meters or only idles is not in use";
  }
}

TEST_F(SoundHal, PidFromStreamThenClientThenSecurityPid) {
  struct Case {
    const char* what;
    linux_source::Properties streamProperties;
    linux_source::Properties clientProperties;
    std::int32_t pid;
  };
  const std::vector<Case> cases = {
      {"stream's own", {{"application.process.id", "11"}}, {{"application.process.id", "22"}, {"pipewire.sec.pid", "33"}}, 11},
      {"client's", {}, {{"application.process.id", "22"}, {"pipewire.sec.pid", "33"}}, 22},
      {"security pid last", {}, {{"pipewire.sec.pid", "33"}}, 33},
      {"none", {}, {}, -1},
      {"not a number", {{"application.process.id", "12x"}}, {}, -1},
      {"negative", {{"application.process.id", "-5"}}, {{"pipewire.sec.pid", "33"}}, 33},
      {"out of range", {{"application.process.id", "99999999999"}}, {}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    SoundServerState state = withMicAndMonitor();
    state.clients = {Client{5, c.clientProperties}};
    state.streams = {stream(5, 1, c.streamProperties)};
    EXPECT_THAT(holdersOf(state), ElementsAre(IsHolder(c.pid, "")));
  }
}

TEST_F(SoundHal, OneObjectPerProcessInOrderOfFirstStream) {
  SoundServerState state = withMicAndMonitor();
  state.clients = {Client{5, {}}, Client{6, {}}};
  CaptureStream idle = stream(9, 1, {{"application.process.id", "30"}});
  idle.corked = true;
  state.streams = {
      stream(1, 2, {{"application.process.id", "20"}}),                              // monitor first...
      idle,                                                                          // never capturing
      stream(2, 1, {{"application.process.id", "10"}, {"application.id", "org.example.ten"}}),
      stream(3, 1, {{"application.process.id", "20"}, {"pipewire.access.portal.app_id", "org.example.twenty"}}),
      stream(5, 1),  // two clients without pids stay two
      stream(6, 1),
  };
  EXPECT_THAT(holdersOf(state), ElementsAre(IsHolder(20, "org.example.twenty"), IsHolder(10, "org.example.ten"),
                                            IsHolder(-1, ""), IsHolder(-1, "")));
}

TEST_F(SoundHal, RefreshReplacesTheEarlierObjects) {
  SoundServerState state = withMicAndMonitor();
  state.streams = {stream(1, 1, {{"application.process.id", "10"}}), stream(2, 1, {{"application.process.id", "20"}})};
  EXPECT_EQ(holdersOf(state).size(), 2u);
  state.streams.pop_back();
  EXPECT_THAT(holdersOf(state), ElementsAre(IsHolder(10, "")));
  EXPECT_THAT(holdersOf(SoundServerState{}), IsEmpty());
}

TEST_F(SoundHal, DevicesAreOutputsSourcesAndOutsideCaptures) {
  SoundServerState state = withMicAndMonitor();
  linux_source::putDevices(state, 0, scene());
  EXPECT_FALSE(anyInputRunning()) << "a running output and a running source with no recorder";
  EXPECT_THAT(callsStartingWith("AudioObjectGetPropertyDataSize(5368709"),
              ElementsAre(sizeQuery(linux_source::kFirstDevice, kAudioDevicePropertyStreamConfiguration,
                                    kAudioObjectPropertyScopeInput),
                          sizeQuery(linux_source::kFirstDevice + 1, kAudioDevicePropertyStreamConfiguration,
                                    kAudioObjectPropertyScopeInput)))
      << "the sink and the mic; the monitor is no device";
  model::reset();
  linux_source::putDevices(state, 1, scene());
  EXPECT_TRUE(anyInputRunning()) << "a capture outside the sound server";
}

}  // namespace
