#include "platform/linux/pulse_connection.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>

#include <algorithm>

#include "platform/linux/sigpipe_guard.h"

namespace linux_source {
namespace {

using Clock = std::chrono::steady_clock;

// Listing takes about a millisecond on a healthy server; a server that has
// not answered in this long is treated as absent for the cycle.
constexpr auto kAnswerBound = std::chrono::milliseconds(400);
constexpr auto kQuietAfterFailure = std::chrono::milliseconds(1000);

void copyProperties(const pa_proplist* from, const char* const* keys, std::size_t count, Properties& to) {
  for (std::size_t i = 0; i < count; ++i) {
    const char* value = pa_proplist_gets(from, keys[i]);
    if (value != nullptr) to.emplace(keys[i], value);
  }
}

struct Request {
  SoundServerState* state;
  int pending = 0;
  bool failed = false;
};

void finish(Request& request, int eol) {
  if (eol < 0) request.failed = true;
  if (eol != 0) --request.pending;
}

void onStream(pa_context*, const pa_source_output_info* info, int eol, void* userdata) {
  auto& request = *static_cast<Request*>(userdata);
  if (info != nullptr) {
    CaptureStream stream;
    stream.index = info->index;
    stream.client = info->client;
    stream.source = info->source;
    stream.corked = info->corked != 0;
    if (info->resample_method != nullptr) stream.resampleMethod = info->resample_method;
    copyProperties(info->proplist, kStreamProperties, std::size(kStreamProperties), stream.properties);
    request.state->streams.push_back(std::move(stream));
  }
  finish(request, eol);
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto& request = *static_cast<Request*>(userdata);
  if (info != nullptr) {
    request.state->sources.push_back(InputSource{info->index, info->sample_spec.channels,
                                                 info->monitor_of_sink != PA_INVALID_INDEX,
                                                 info->state == PA_SOURCE_RUNNING});
  }
  finish(request, eol);
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
  auto& request = *static_cast<Request*>(userdata);
  if (info != nullptr)
    request.state->sinks.push_back(OutputSink{info->index, info->sample_spec.channels, info->state == PA_SINK_RUNNING});
  finish(request, eol);
}

void onClient(pa_context*, const pa_client_info* info, int eol, void* userdata) {
  auto& request = *static_cast<Request*>(userdata);
  if (info != nullptr) {
    Client client;
    client.index = info->index;
    copyProperties(info->proplist, kClientProperties, std::size(kClientProperties), client.properties);
    request.state->clients.push_back(std::move(client));
  }
  finish(request, eol);
}

}  // namespace

PulseConnection::PulseConnection() = default;

PulseConnection::~PulseConnection() { disconnect(); }

void PulseConnection::disconnect() {
  if (context_ != nullptr) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
  if (loop_ != nullptr) {
    pa_mainloop_free(loop_);
    loop_ = nullptr;
  }
}

template <typename Done>
bool PulseConnection::iterateUntil(Done done, Clock::time_point deadline) {
  while (!done()) {
    const pa_context_state_t state = pa_context_get_state(context_);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) return false;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    // One bounded step: a server that stops answering cannot hold the loop.
    if (pa_mainloop_prepare(loop_, static_cast<int>(std::min<long long>(left, 1000000))) < 0) return false;
    if (pa_mainloop_poll(loop_) < 0) return false;
    if (pa_mainloop_dispatch(loop_) < 0) return false;
  }
  return true;
}

bool PulseConnection::connect(Clock::time_point deadline) {
  loop_ = pa_mainloop_new();
  if (loop_ == nullptr) return false;
  context_ = pa_context_new(pa_mainloop_get_api(loop_), "quorbel");
  if (context_ == nullptr) return false;
  // A monitor must never start a sound server of its own.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  return iterateUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, deadline);
}

std::optional<SoundServerState> PulseConnection::listing() {
  SigpipeGuard guard;
  const Clock::time_point now = Clock::now();
  if (now < quietUntil_) return std::nullopt;
  const Clock::time_point deadline = now + kAnswerBound;
  if (context_ == nullptr && !connect(deadline)) {
    disconnect();
    quietUntil_ = Clock::now() + kQuietAfterFailure;
    return std::nullopt;
  }

  SoundServerState state;
  Request request{&state};
  pa_operation* operations[] = {
      pa_context_get_source_output_info_list(context_, onStream, &request),
      pa_context_get_source_info_list(context_, onSource, &request),
      pa_context_get_sink_info_list(context_, onSink, &request),
      pa_context_get_client_info_list(context_, onClient, &request),
  };
  bool issued = true;
  for (pa_operation* operation : operations) {
    if (operation != nullptr) ++request.pending;
    else issued = false;
  }
  const bool answered = issued && iterateUntil([&] { return request.pending == 0; }, deadline) && !request.failed;
  for (pa_operation* operation : operations) {
    if (operation == nullptr) continue;
    if (!answered && pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_operation_cancel(operation);
    pa_operation_unref(operation);
  }
  if (!answered) {
    // A connection that missed its bound may still deliver a stale answer; start afresh.
    disconnect();
    quietUntil_ = Clock::now() + kQuietAfterFailure;
    return std::nullopt;
  }
  return state;
}

}  // namespace linux_source
