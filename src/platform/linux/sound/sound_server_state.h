// What the sound server says about capture, as plain records: the part of
// its listing that the monitor reads.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace linux_source {

constexpr std::uint32_t kNoIndex = 0xFFFFFFFFu;  // PA_INVALID_INDEX

using Properties = std::map<std::string, std::string>;

struct CaptureStream {  // a source output
  std::uint32_t index = kNoIndex;
  std::uint32_t client = kNoIndex;
  std::uint32_t source = kNoIndex;
  bool corked = false;
  std::string resampleMethod;
  Properties properties;
};

struct InputSource {
  std::uint32_t index = kNoIndex;
  std::uint32_t channels = 0;
  bool monitor = false;  // the monitor of an output
  bool running = false;
};

struct OutputSink {
  std::uint32_t index = kNoIndex;
  std::uint32_t channels = 0;
  bool running = false;
};

struct Client {
  std::uint32_t index = kNoIndex;
  Properties properties;
};

struct SoundServerState {
  std::vector<CaptureStream> streams;
  std::vector<InputSource> sources;
  std::vector<OutputSink> sinks;
  std::vector<Client> clients;
};

// The properties worth copying out of the server's property lists.
inline const char* const kStreamProperties[] = {
    "application.process.id", "application.id", "pipewire.access.portal.app_id",
    "stream.monitor",         "resample.peaks", "stream.capture.sink",
};
inline const char* const kClientProperties[] = {"application.process.id", "pipewire.sec.pid"};

}  // namespace linux_source
