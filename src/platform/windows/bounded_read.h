// A read from another process that the cycle waits for only so long. The
// read runs on a thread of its own; one that outlasts its bound goes on
// alone, its answer dropped, and no other starts until it has ended, so a
// service that hangs costs each cycle the bound at most and never piles up
// threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace windows_source {

template <typename Result>
class BoundedRead {
 public:
  explicit BoundedRead(Result (*read)()) : read_(read) {}

  // The read's answer, or an empty Result when it took longer than bound or
  // an earlier one is still out.
  Result operator()(std::chrono::milliseconds bound) {
    if (outstanding_) {
      std::lock_guard<std::mutex> lock(outstanding_->mutex);
      if (!outstanding_->done) return Result{};
    }
    outstanding_.reset();
    auto state = std::make_shared<State>();
    try {
      std::thread([state, read = read_] {
        Result answer = read();
        std::lock_guard<std::mutex> lock(state->mutex);
        state->answer = std::move(answer);
        state->done = true;
        state->ended.notify_all();
      }).detach();
    } catch (...) {  // no thread to be had: no answer this time
      return Result{};
    }
    std::unique_lock<std::mutex> lock(state->mutex);
    if (!state->ended.wait_for(lock, bound, [&] { return state->done; })) {
      outstanding_ = state;
      return Result{};
    }
    return std::move(state->answer);
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    Result answer;
  };

  Result (*read_)();
  std::shared_ptr<State> outstanding_;
};

}  // namespace windows_source
