// A stream over a scratch file that marks, in the model's record, where what
// it passed on to the file falls among the platform calls: a write shows up
// only once the stream has let go of it, as a pipe's reader would see it.
// Plain files and the C library's own buffering, so the same code serves
// every system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

class RecordingStream {
 public:
  RecordingStream();
  ~RecordingStream();
  RecordingStream(const RecordingStream&) = delete;
  RecordingStream& operator=(const RecordingStream&) = delete;

  std::FILE* file() { return file_; }
  // What has reached the file so far; a write not yet marked is marked now.
  std::string written();

 private:
  void markWrite();

  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  std::uintmax_t marked_ = 0;
};
