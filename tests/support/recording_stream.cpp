#include "recording_stream.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/model/model.h"

namespace {

std::filesystem::path scratchPath() {
  static std::atomic<unsigned> made{0};
  std::error_code error;
  const auto folder = std::filesystem::temp_directory_path(error);
  const auto unique = std::to_string(reinterpret_cast<std::uintptr_t>(&made)) + "-" + std::to_string(made++);
  return (error ? std::filesystem::path(".") : folder) / ("quorbel-recording-" + unique);
}

}  // namespace

RecordingStream::RecordingStream() : path_(scratchPath()) {
  file_ = std::fopen(path_.string().c_str(), "wb");
  // As the monitor's standard output is set up everywhere, so a platform whose
  // runtime does not flush at a line feed shows it.
  std::setvbuf(file_, nullptr, _IOLBF, BUFSIZ);
  model::setCallObserver([this] { markWrite(); });
}

RecordingStream::~RecordingStream() {
  model::setCallObserver({});
  if (file_ != nullptr) std::fclose(file_);
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

void RecordingStream::markWrite() {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path_, error);
  if (error || size <= marked_) return;
  marked_ = size;
  model::noteCall("write");
}

std::string RecordingStream::written() {
  markWrite();
  std::ifstream in(path_, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
