#include "recording_stream.h"

#include "platform/model/model.h"

RecordingStream::~RecordingStream() { std::fclose(file_); }

void RecordingStream::take(const char* data, std::size_t size) {
  written_.append(data, size);
  model::noteCall("write");
}
