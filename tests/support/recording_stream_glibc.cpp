#include <sys/types.h>

#include "recording_stream.h"

RecordingStream::RecordingStream() {
  cookie_io_functions_t io{};
  io.write = [](void* cookie, const char* data, std::size_t size) -> ssize_t {
    static_cast<RecordingStream*>(cookie)->take(data, size);
    return static_cast<ssize_t>(size);
  };
  file_ = fopencookie(this, "w", io);
  std::setvbuf(file_, nullptr, _IOLBF, 0);
}
