// A stream that keeps what is written to it and marks each write in the
// model's record, so a test sees where the write falls among the platform
// calls. The C library's way to make such a stream differs (fopencookie,
// funopen); the build picks the file for it.
#pragma once

#include <cstdio>
#include <string>

class RecordingStream {
 public:
  RecordingStream();
  ~RecordingStream();
  RecordingStream(const RecordingStream&) = delete;
  RecordingStream& operator=(const RecordingStream&) = delete;

  std::FILE* file() { return file_; }
  const std::string& written() const { return written_; }

  // Called by the stream for each chunk it passes on.
  void take(const char* data, std::size_t size);

 private:
  std::string written_;
  std::FILE* file_;
};
