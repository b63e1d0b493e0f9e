#include "recording_stream.h"

RecordingStream::RecordingStream() {
  file_ = funopen(
      this, nullptr,
      [](void* cookie, const char* data, int size) -> int {
        static_cast<RecordingStream*>(cookie)->take(data, static_cast<std::size_t>(size));
        return size;
      },
      nullptr, nullptr);
  std::setvbuf(file_, nullptr, _IOLBF, 0);
}
