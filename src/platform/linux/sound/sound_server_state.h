// What the sound server says about capture, as plain records: the part of
// its listing that the monitor reads.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace linux_source {

constexpr std::uint32_t kNoIndex = 0xFFFFFFFFu;  // PA_INVALID_INDEX

using Properties = std::map<std::string, std::string>;

// Which filter a stream, source or sink belongs to: the server's module that
// made it (PulseAudio), or the group PipeWire links a filter's nodes in.
struct FilterParts {
  std::uint32_t ownerModule = kNoIndex;
  std::string linkGroup;  // node.link-group
};

struct CaptureStream {  // a source output
  std::uint32_t index = kNoIndex;
  std::uint32_t client = kNoIndex;
  std::uint32_t source = kNoIndex;
  bool corked = false;
  std::string resampleMethod;
  Properties properties;
  FilterParts filter;
  // The capturing process's pid on the host, resolved once per listing from
  // the pids the stream and its client give; nothing when no one process fits.
  std::optional<std::int32_t> pid;
};

struct InputSource {
  std::uint32_t index = kNoIndex;
  std::uint32_t channels = 0;
  std::uint32_t monitorOf = kNoIndex;  // the output this source is the monitor of
  bool running = false;
  FilterParts filter;
  bool monitor() const { return monitorOf != kNoIndex; }
};

struct OutputSink {
  std::uint32_t index = kNoIndex;
  std::uint32_t channels = 0;
  bool running = false;
  FilterParts filter;
};

// A playback stream the server opened itself (a loopback's or a filter's);
// applications' playback is not kept.
struct FilterPlayback {  // a sink input
  std::uint32_t sink = kNoIndex;
  FilterParts filter;
};

struct Client {
  std::uint32_t index = kNoIndex;
  Properties properties;
};

struct SoundServerState {
  std::vector<CaptureStream> streams;
  std::vector<InputSource> sources;
  std::vector<OutputSink> sinks;
  std::vector<FilterPlayback> playbacks;
  std::vector<Client> clients;  // the capturing ones and the monitor's own
  std::uint32_t ownClient = kNoIndex;  // the monitor's own connection
  std::string socketPath;  // where the server listens, when it is a unix socket
};

// The properties worth copying out of the server's property lists.
inline const char* const kStreamProperties[] = {
    "application.process.id", "application.process.binary", "application.id", "pipewire.access.portal.app_id",
    "stream.monitor",         "resample.peaks",             "stream.capture.sink",
};
inline const char* const kClientProperties[] = {"application.process.id", "application.process.binary",
                                                "pipewire.sec.pid"};
inline const char* const kLinkGroup = "node.link-group";

}  // namespace linux_source
