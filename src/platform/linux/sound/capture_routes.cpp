#include "platform/linux/sound/capture_routes.h"

#include <string>

namespace linux_source {
namespace {

// The filter a node belongs to; empty for none. A PulseAudio module owns
// every device it makes, so a module counts as a filter only where it also
// records (see filterCaptures).
std::string groupOf(const FilterParts& parts) {
  if (!parts.linkGroup.empty()) return "link-group " + parts.linkGroup;
  if (parts.ownerModule != kNoIndex) return "module " + std::to_string(parts.ownerModule);
  return {};
}

bool isTrue(const Properties& properties, const char* key) {
  const auto found = properties.find(key);
  return found != properties.end() && found->second == "true";
}

bool isLevelMeter(const CaptureStream& stream) {
  // PulseAudio shows a peak-detect stream only by its resampler; PipeWire
  // says so in the stream's properties.
  return stream.resampleMethod == "peaks" || isTrue(stream.properties, "resample.peaks");
}

int sourcePosition(const SoundServerState& state, std::uint32_t index) {
  for (std::size_t i = 0; i < state.sources.size(); ++i)
    if (state.sources[i].index == index) return static_cast<int>(i);
  return -1;
}

class Routes {
 public:
  explicit Routes(const SoundServerState& state)
      : state_(state), marks_(state.sources.size(), Mark::unknown) {}

  bool carries(int position) {
    if (position < 0) return false;
    Mark& mark = marks_[static_cast<std::size_t>(position)];
    if (mark == Mark::visiting) return false;  // a loop of filters feeds nothing new
    if (mark != Mark::unknown) return mark == Mark::yes;
    mark = Mark::visiting;
    bool carried = false;
    for (const std::uint32_t fed : feeding(position))
      if (carries(sourcePosition(state_, fed))) carried = true;
    const InputSource& source = state_.sources[static_cast<std::size_t>(position)];
    if (!source.monitor() && !madeByFilter(source)) carried = true;
    marks_[static_cast<std::size_t>(position)] = carried ? Mark::yes : Mark::no;
    return carried;
  }

  // The sources whose sound the server's own streams bring into this one.
  std::vector<std::uint32_t> feeding(int position) const {
    const InputSource& source = state_.sources[static_cast<std::size_t>(position)];
    std::vector<std::uint32_t> fed;
    if (source.monitor()) {
      for (const FilterPlayback& playback : state_.playbacks) {
        const std::string group = groupOf(playback.filter);
        if (playback.sink == source.monitorOf && !group.empty() && !hasOutputOfItsOwn(group))
          appendCaptured(group, fed);
      }
    } else if (madeByFilter(source)) {
      appendCaptured(groupOf(source.filter), fed);
    }
    return fed;
  }

 private:
  enum class Mark { unknown, visiting, no, yes };

  bool madeByFilter(const InputSource& source) const {
    const std::string group = groupOf(source.filter);
    if (group.empty()) return false;
    for (const CaptureStream& stream : state_.streams)
      if (isFilterStream(stream) && groupOf(stream.filter) == group) return true;
    return false;
  }

  bool hasOutputOfItsOwn(const std::string& group) const {
    for (const OutputSink& sink : state_.sinks)
      if (groupOf(sink.filter) == group) return true;
    return false;
  }

  void appendCaptured(const std::string& group, std::vector<std::uint32_t>& fed) const {
    for (const CaptureStream& stream : state_.streams)
      if (isFilterStream(stream) && stream.source != kNoIndex && groupOf(stream.filter) == group)
        fed.push_back(stream.source);
  }

  const SoundServerState& state_;
  std::vector<Mark> marks_;
};

}  // namespace

bool isFilterStream(const CaptureStream& stream) {
  return stream.client == kNoIndex || !stream.filter.linkGroup.empty();
}

CaptureRoutes captureRoutes(const SoundServerState& state) {
  Routes routes(state);
  CaptureRoutes out;
  for (std::size_t i = 0; i < state.sources.size(); ++i) out.carriesMicrophone.push_back(routes.carries(static_cast<int>(i)));
  out.recordedByApplication.assign(state.sources.size(), false);
  // From each source an application records, back along the filters that feed it.
  std::vector<int> pending;
  for (const CaptureStream& stream : state.streams) {
    if (recordsInput(stream, state, out)) pending.push_back(sourcePosition(state, stream.source));
  }
  while (!pending.empty()) {
    const int position = pending.back();
    pending.pop_back();
    if (position < 0 || out.recordedByApplication[static_cast<std::size_t>(position)]) continue;
    if (!out.carriesMicrophone[static_cast<std::size_t>(position)]) continue;
    out.recordedByApplication[static_cast<std::size_t>(position)] = true;
    for (const std::uint32_t fed : routes.feeding(position)) pending.push_back(sourcePosition(state, fed));
  }
  return out;
}

bool recordsInput(const CaptureStream& stream, const SoundServerState& state, const CaptureRoutes& routes) {
  if (isFilterStream(stream) || stream.corked || stream.source == kNoIndex || isLevelMeter(stream)) return false;
  const int position = sourcePosition(state, stream.source);
  // A source missing from the listing (it came between two questions) is
  // taken for a microphone, unless PipeWire says the stream records an output.
  if (position < 0) return !isTrue(stream.properties, "stream.capture.sink");
  return routes.carriesMicrophone[static_cast<std::size_t>(position)];
}

}  // namespace linux_source
