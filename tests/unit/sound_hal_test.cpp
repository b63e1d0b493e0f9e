#include "platform/linux/sound/sound_hal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio/any_input_running.h"
#include "audio/mic_holders.h"
#include "model_fixture.h"
#include "platform/linux/sound/capture_routes.h"

namespace {

using linux_source::CaptureStream;
using linux_source::FilterParts;
using linux_source::FilterPlayback;
using linux_source::InputSource;
using linux_source::kNoIndex;
using linux_source::OutputSink;
using linux_source::SoundServerState;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

MATCHER_P2(IsHolder, pid, bundle, "") { return arg.pid == pid && arg.bundle == bundle; }

InputSource source(std::uint32_t index, FilterParts filter = {}, std::uint32_t monitorOf = kNoIndex) {
  return InputSource{index, 2, monitorOf, true, std::move(filter)};
}

OutputSink sink(std::uint32_t index, FilterParts filter = {}) { return OutputSink{index, 2, true, std::move(filter)}; }

CaptureStream stream(std::uint32_t client, std::uint32_t source, std::optional<std::int32_t> pid,
                     linux_source::Properties properties = {}) {
  CaptureStream s;
  s.client = client;
  s.source = source;
  s.pid = pid;
  s.properties = std::move(properties);
  return s;
}

// A stream the server opens for a filter: no client, and its module or link group.
CaptureStream filterStream(std::uint32_t source, FilterParts filter, bool corked = false) {
  CaptureStream s = stream(kNoIndex, source, std::nullopt);
  s.filter = std::move(filter);
  s.corked = corked;
  return s;
}

FilterParts module(std::uint32_t index) { return FilterParts{index, {}}; }
FilterParts linkGroup(const char* group, std::uint32_t module = kNoIndex) { return FilterParts{module, group}; }

// The conversion is checked through the probes themselves, since what matters
// is what they make of the objects.
class SoundHal : public ModelTest {
 protected:
  static SoundServerState withMicAndMonitor() {
    SoundServerState state;
    state.sources = {source(1), source(2, {}, 0)};
    state.sinks = {sink(0)};
    return state;
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
  CaptureStream corked = stream(7, 1, 70);
  corked.corked = true;
  CaptureStream pulseMeter = stream(7, 1, 70);
  pulseMeter.resampleMethod = "peaks";
  const std::vector<Case> cases = {
      {"recorder", stream(7, 1, 70), true},
      {"corked", corked, false},
      {"not linked", stream(7, kNoIndex, 70), false},
      {"monitor of an output", stream(7, 2, 70), false},
      {"source missing from the listing", stream(7, 9, 70), true},
      {"PipeWire recording of an output missing from the listing", stream(7, 9, 70, {{"stream.capture.sink", "true"}}), false},
      {"PulseAudio level meter", pulseMeter, false},
      {"PipeWire level meter", stream(7, 1, 70, {{"stream.monitor", "true"}, {"resample.peaks", "true"}}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    SoundServerState state = withMicAndMonitor();
    state.streams = {c.stream};
    EXPECT_EQ(linux_source::recordsInput(c.stream, state, linux_source::captureRoutes(state)), c.records);
    EXPECT_EQ(holdersOf(state).size(), c.records ? 1u : 0u);
    linux_source::putDevices(state, 0, scene());
    EXPECT_EQ(anyInputRunning(), c.records && c.stream.source == 1) << "a source that only meters or only idles is not in use";
  }
}

TEST_F(SoundHal, OneObjectPerProcessInOrderOfFirstStream) {
  SoundServerState state = withMicAndMonitor();
  CaptureStream idle = stream(9, 1, 30);
  idle.corked = true;
  state.streams = {
      stream(1, 2, 20),  // monitor first...
      idle,              // never capturing
      stream(2, 1, 10, {{"application.id", "org.example.ten"}}),
      stream(3, 1, 20, {{"pipewire.access.portal.app_id", "org.example.twenty"}}),
      stream(5, 1, std::nullopt),  // two clients without pids stay two
      stream(6, 1, std::nullopt),
  };
  EXPECT_THAT(holdersOf(state), ElementsAre(IsHolder(20, "org.example.twenty"), IsHolder(10, "org.example.ten"),
                                            IsHolder(-1, ""), IsHolder(-1, "")));
}

TEST_F(SoundHal, DeclaredBrowserIdsAreLeftToTheRegistry) {
  struct Case {
    const char* key;
    const char* declared;
    const char* bundle;  // the fixture's registry knows no process: a browser's ID gives none
  };
  const std::vector<Case> cases = {
      {"pipewire.access.portal.app_id", "com.microsoft.Edge", ""},
      {"pipewire.access.portal.app_id", "org.chromium.Chromium", ""},
      {"application.id", "firefox", ""},
      {"application.id", "google-chrome", ""},
      {"application.id", "org.mozilla.firefox.nightly", ""},
      {"application.id", "org.example.Chat", "org.example.Chat"},
      {"pipewire.access.portal.app_id", "org.example.Chat", "org.example.Chat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.declared);
    model::reset();
    SoundServerState state = withMicAndMonitor();
    state.streams = {stream(3, 1, 40, {{c.key, c.declared}})};
    EXPECT_THAT(holdersOf(state), ElementsAre(IsHolder(40, c.bundle)));
  }
}

TEST_F(SoundHal, RefreshReplacesTheEarlierObjects) {
  SoundServerState state = withMicAndMonitor();
  state.streams = {stream(1, 1, 10), stream(2, 1, 20)};
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

// Listings as the servers gave them, cut to what the monitor reads. PulseAudio:
// mic 0 (module 1), speaker 0 (module 2) with its monitor 1. PipeWire: mic 44,
// speaker 51 with its monitor 51.
SoundServerState listing(std::vector<InputSource> sources, std::vector<InputSource> moreSources,
                         std::vector<OutputSink> sinks, std::vector<OutputSink> moreSinks,
                         std::vector<CaptureStream> streams, std::vector<FilterPlayback> playbacks) {
  SoundServerState state;
  state.sources = std::move(sources);
  state.sources.insert(state.sources.end(), moreSources.begin(), moreSources.end());
  state.sinks = std::move(sinks);
  state.sinks.insert(state.sinks.end(), moreSinks.begin(), moreSinks.end());
  state.streams = std::move(streams);
  state.playbacks = std::move(playbacks);
  return state;
}

SoundServerState pulseWith(std::vector<InputSource> sources, std::vector<OutputSink> sinks,
                           std::vector<CaptureStream> streams, std::vector<FilterPlayback> playbacks) {
  return listing({source(0, module(1)), source(1, module(2), 0)}, std::move(sources), {sink(0, module(2))},
                 std::move(sinks), std::move(streams), std::move(playbacks));
}

SoundServerState pipeWireWith(std::vector<InputSource> sources, std::vector<OutputSink> sinks,
                              std::vector<CaptureStream> streams, std::vector<FilterPlayback> playbacks) {
  return listing({source(44, module(536870913)), source(51, module(536870914), 51)}, std::move(sources),
                 {sink(51, module(536870914))}, std::move(sinks), std::move(streams), std::move(playbacks));
}

TEST_F(SoundHal, FiltersAreNoHoldersAndPassTheMicrophoneOn) {
  struct Case {
    const char* what;
    SoundServerState state;
    std::vector<std::int32_t> holders;
    bool inputRunning;
  };
  // module-echo-cancel source_master=mic sink_master=speaker: module 3 records
  // the mic into source 2 and plays its own sink 1 into the speaker.
  const auto pulseEchoCancel = [](std::vector<CaptureStream> more) {
    std::vector<CaptureStream> streams = {filterStream(0, module(3))};
    streams.insert(streams.end(), more.begin(), more.end());
    return pulseWith({source(2, module(3)), source(3, module(3), 1)}, {sink(1, module(3))}, streams,
                     {FilterPlayback{0, module(3)}});
  };
  // PipeWire's echo-cancel through pipewire-pulse: no module, one link group;
  // its capture stays corked until its source is recorded.
  const auto pipeWireEchoCancel = [](bool corked, std::vector<CaptureStream> more) {
    const FilterParts group = linkGroup("echo-cancel-19886-12");
    std::vector<CaptureStream> streams = {filterStream(44, group, corked)};
    streams.insert(streams.end(), more.begin(), more.end());
    return pipeWireWith({source(60, group), source(61, group, 61)}, {sink(61, group)}, streams,
                        {FilterPlayback{51, group}});
  };
  // A filter-chain run as a process of its own is a client with a pid.
  CaptureStream ownProcessChain = stream(12, 44, 500, {{"application.process.binary", "pipewire"}});
  ownProcessChain.filter = linkGroup("filter-chain-500-13");
  const FilterParts loopback = module(4);
  const std::vector<Case> cases = {
      {"PulseAudio echo canceller, nothing recording", pulseEchoCancel({}), {}, false},
      {"PulseAudio echo canceller, its source recorded", pulseEchoCancel({stream(9, 2, 70)}), {70}, true},
      {"PulseAudio echo canceller, the mic recorded beside it", pulseEchoCancel({stream(9, 0, 70)}), {70}, true},
      {"PulseAudio echo canceller, the speaker's monitor recorded", pulseEchoCancel({stream(9, 1, 70)}), {}, false},
      {"PulseAudio echo canceller, its sink's monitor recorded", pulseEchoCancel({stream(9, 3, 70)}), {}, false},
      {"remapped mic recorded",
       pulseWith({source(2, module(3))}, {}, {filterStream(0, module(3)), stream(9, 2, 70)}, {}), {70}, true},
      {"remapped mic, nothing recording", pulseWith({source(2, module(3))}, {}, {filterStream(0, module(3))}, {}), {},
       false},
      {"remapped monitor recorded",
       pulseWith({source(2, module(3))}, {}, {filterStream(1, module(3)), stream(9, 2, 70)}, {}), {}, false},
      {"remap of a remapped mic recorded",
       pulseWith({source(2, module(3)), source(3, module(5))}, {},
                 {filterStream(0, module(3)), filterStream(2, module(5)), stream(9, 3, 70)}, {}),
       {70}, true},
      {"loopback of the mic into the speaker, nothing recording",
       pulseWith({}, {}, {filterStream(0, loopback)}, {FilterPlayback{0, loopback}}), {}, false},
      {"loopback of the mic into the speaker, its monitor recorded",
       pulseWith({}, {}, {filterStream(0, loopback), stream(9, 1, 70)}, {FilterPlayback{0, loopback}}), {70}, true},
      {"loopback of the speaker's monitor into the speaker",
       pulseWith({}, {}, {filterStream(1, loopback), stream(9, 1, 70)}, {FilterPlayback{0, loopback}}), {}, false},
      {"PipeWire echo canceller, nothing recording", pipeWireEchoCancel(true, {}), {}, false},
      {"PipeWire echo canceller running with nothing recording", pipeWireEchoCancel(false, {}), {}, false},
      {"PipeWire echo canceller, its source recorded", pipeWireEchoCancel(false, {stream(83, 60, 70)}), {70}, true},
      {"PipeWire echo canceller, the speaker's monitor recorded",
       pipeWireEchoCancel(false, {stream(83, 51, 70, {{"stream.capture.sink", "true"}})}), {}, false},
      {"filter-chain process, nothing recording",
       pipeWireWith({source(70, linkGroup("filter-chain-500-13"))}, {}, {ownProcessChain}, {}), {}, false},
      {"filter-chain process, its source recorded",
       pipeWireWith({source(70, linkGroup("filter-chain-500-13"))}, {}, {ownProcessChain, stream(83, 70, 71)}, {}),
       {71}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    std::vector<std::int32_t> pids;
    for (const Holder& holder : holdersOf(c.state)) pids.push_back(holder.pid);
    EXPECT_THAT(pids, ElementsAreArray(c.holders));
    linux_source::putDevices(c.state, 0, scene());
    EXPECT_EQ(anyInputRunning(), c.inputRunning);
  }
}

}  // namespace
