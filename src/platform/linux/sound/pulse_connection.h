// The one connection to the sound server (PulseAudio, or PipeWire's pulse
// server), opened when first needed and opened again after it breaks.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/sound/sound_server_state.h"

struct pa_context;
struct pa_mainloop;

namespace linux_source {

class PulseConnection {
 public:
  // Pids are resolved with the process files below root.
  explicit PulseConnection(std::string root = "/");
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // The present listing, or nothing when no server answers in time. After a
  // failure the server is not asked again for a moment, so a hung server
  // costs one wait per cycle, not one per question.
  //
  // The server tells of every change to streams, sources, sinks and clients;
  // until it does, the last listing is the present one and is not asked for
  // again (decoding a listing is most of what a cycle would cost), except
  // once every few seconds in case a notice was ever lost.
  // The listing stays valid until the next call.
  const SoundServerState* listing();

  // Changes whenever listing() answers with a listing other than the last:
  // what was made of the last one still stands while it is the same.
  std::uint64_t generation() const { return generation_; }

  // Called by the server's change notices.
  void markChanged() { changed_ = true; }

  // Takes in what the server has sent by now, without waiting. True when the
  // last listing may be out of date: a notice came after it was fetched, or
  // the connection broke; or when what was made since the last call may be:
  // listing() answered with more than one listing, so a question answered
  // early may rest on an older one than the last.
  bool takeNotices();

  // What the connection waits on, to wait on beside a timer: empty while
  // there is no connection.
  const std::vector<pollfd>& noticeDescriptors() const { return polled_; }

  // The loop's poll, which keeps what it was asked to wait on.
  int poll(pollfd* descriptors, unsigned long count, int timeout);

 private:
  // listing() without noting which listing it answered with.
  const SoundServerState* answer();
  bool connect(std::chrono::steady_clock::time_point deadline);
  void disconnect();
  // Runs the loop until done() or the deadline; false on a broken connection or the deadline.
  template <typename Done>
  bool iterateUntil(Done done, std::chrono::steady_clock::time_point deadline);

  std::string root_;
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  std::optional<SoundServerState> fetch(std::chrono::steady_clock::time_point deadline);
  void catchUpWithNotices();

  std::chrono::steady_clock::time_point quietUntil_{};
  bool changed_ = true;
  std::optional<SoundServerState> last_;
  std::chrono::steady_clock::time_point listedAt_{};
  std::uint64_t generation_ = 0;
  // The generation listing() first answered with since takeNotices() last ran.
  std::optional<std::uint64_t> firstAnswered_;
  std::vector<pollfd> polled_;
};

}  // namespace linux_source
