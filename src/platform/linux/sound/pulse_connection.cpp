#include "platform/linux/sound/pulse_connection.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>
#include <pulse/subscribe.h>

#include <algorithm>
#include <vector>

#include "platform/linux/server_bounds.h"
#include "platform/linux/sigpipe_guard.h"
#include "platform/linux/sound/stream_pids.h"

namespace linux_source {
namespace {

constexpr auto kListAtLeastEvery = std::chrono::seconds(10);
// Each question is a packet and a few wakes of libpulse's loop (a write and a
// read of its wakeup pipe apiece); past a few clients one listing of them all
// costs less, though it decodes the others too.
constexpr std::size_t kClientsAskedOneByOne = 4;
constexpr auto kSubscription = static_cast<pa_subscription_mask_t>(
    PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK |
    PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_CLIENT | PA_SUBSCRIPTION_MASK_SERVER);

void onNotice(pa_context*, pa_subscription_event_type_t, std::uint32_t, void* userdata) {
  static_cast<PulseConnection*>(userdata)->markChanged();
}

int pollOfConnection(pollfd* descriptors, unsigned long count, int timeout, void* userdata) {
  return static_cast<PulseConnection*>(userdata)->poll(descriptors, count, timeout);
}

void copyProperties(const pa_proplist* from, const char* const* keys, std::size_t count, Properties& to) {
  for (std::size_t i = 0; i < count; ++i) {
    const char* value = pa_proplist_gets(from, keys[i]);
    if (value != nullptr) to.emplace(keys[i], value);
  }
}

FilterParts filterParts(std::uint32_t ownerModule, const pa_proplist* properties) {
  FilterParts parts;
  parts.ownerModule = ownerModule;
  if (const char* group = pa_proplist_gets(properties, kLinkGroup)) parts.linkGroup = group;
  return parts;
}

struct Request {
  SoundServerState* state;
  int pending = 0;
  bool failed = false;
  // When the clients are listed: the ones kept, the rest passed over.
  const std::vector<std::uint32_t>* wantedClients = nullptr;
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
    stream.filter = filterParts(info->owner_module, info->proplist);
    request.state->streams.push_back(std::move(stream));
  }
  finish(request, eol);
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto& request = *static_cast<Request*>(userdata);
  if (info != nullptr) {
    request.state->sources.push_back(InputSource{info->index, info->sample_spec.channels, info->monitor_of_sink,
                                                 info->state == PA_SOURCE_RUNNING,
                                                 filterParts(info->owner_module, info->proplist)});
  }
  finish(request, eol);
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
  auto& request = *static_cast<Request*>(userdata);
  if (info != nullptr)
    request.state->sinks.push_back(OutputSink{info->index, info->sample_spec.channels, info->state == PA_SINK_RUNNING,
                                             filterParts(info->owner_module, info->proplist)});
  finish(request, eol);
}

void onPlayback(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
  auto& request = *static_cast<Request*>(userdata);
  if (info != nullptr) {
    FilterPlayback playback{info->sink, filterParts(info->owner_module, info->proplist)};
    // Only the server's own: an application's playback feeds no capture.
    if (info->client == PA_INVALID_INDEX || !playback.filter.linkGroup.empty())
      request.state->playbacks.push_back(std::move(playback));
  }
  finish(request, eol);
}

void onClient(pa_context*, const pa_client_info* info, int eol, void* userdata) {
  auto& request = *static_cast<Request*>(userdata);
  // A client that left between the two questions is no failure of the listing.
  if (eol < 0) eol = 1;
  const auto& wanted = request.wantedClients;
  if (info != nullptr &&
      (wanted == nullptr || std::find(wanted->begin(), wanted->end(), info->index) != wanted->end())) {
    Client client;
    client.index = info->index;
    copyProperties(info->proplist, kClientProperties, std::size(kClientProperties), client.properties);
    request.state->clients.push_back(std::move(client));
  }
  finish(request, eol);
}

// The server's address as libpulse gives it: a path, "unix:PATH", or a
// network address, which is no socket of this machine's.
std::string unixSocketPath(const char* server) {
  if (server == nullptr) return {};
  std::string address = server;
  if (address.rfind("unix:", 0) == 0) address.erase(0, 5);
  return !address.empty() && address.front() == '/' ? address : std::string();
}

}  // namespace

PulseConnection::PulseConnection(std::string root) : root_(std::move(root)) {}

PulseConnection::~PulseConnection() { disconnect(); }

void PulseConnection::disconnect() {
  if (last_) ++generation_;
  last_.reset();
  changed_ = true;
  polled_.clear();
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
  pa_mainloop_set_poll_func(loop_, pollOfConnection, this);
  context_ = pa_context_new(pa_mainloop_get_api(loop_), "quorbel");
  if (context_ == nullptr) return false;
  // A monitor must never start a sound server of its own.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  if (!iterateUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, deadline)) return false;
  // Subscribed before the first listing, so no change can fall between the two.
  pa_context_set_subscribe_callback(context_, onNotice, this);
  pa_operation* subscription = pa_context_subscribe(context_, kSubscription, nullptr, nullptr);
  if (subscription == nullptr) return false;
  pa_operation_unref(subscription);
  changed_ = true;
  return true;
}

void PulseConnection::catchUpWithNotices() {
  // Whatever the server has sent by now, without waiting for more.
  for (int i = 0; i < 64; ++i) {
    if (pa_mainloop_prepare(loop_, 0) < 0 || pa_mainloop_poll(loop_) < 0) return;
    if (pa_mainloop_dispatch(loop_) <= 0) return;
  }
}

int PulseConnection::poll(pollfd* descriptors, unsigned long count, int timeout) {
  polled_.assign(descriptors, descriptors + count);
  return ::poll(descriptors, count, timeout);
}

bool PulseConnection::takeNotices() {
  // Between two waits a cycle asks for the listing at several moments, and a
  // notice taken in at one of them makes the next fetch anew. The questions
  // answered before then rest on the older listing, and once the newer one is
  // fetched no notice is left to say so: look once more, when nothing else
  // would wake the wait until the next timer.
  const bool mixed = firstAnswered_ && *firstAnswered_ != generation_;
  firstAnswered_.reset();
  if (context_ == nullptr) return mixed;
  SigpipeGuard guard;
  catchUpWithNotices();
  const pa_context_state_t state = pa_context_get_state(context_);
  if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
    // Nothing more will come from it; the next listing connects afresh.
    polled_.clear();
    return true;
  }
  return changed_ || mixed;
}

const SoundServerState* PulseConnection::listing() {
  const SoundServerState* answered = answer();
  if (!firstAnswered_) firstAnswered_ = generation_;
  return answered;
}

const SoundServerState* PulseConnection::answer() {
  SigpipeGuard guard;
  const Clock::time_point now = Clock::now();
  if (now < quietUntil_) return nullptr;
  const Clock::time_point deadline = now + kAnswerBound;
  if (context_ == nullptr && !connect(deadline)) {
    disconnect();
    quietUntil_ = Clock::now() + kQuietAfterFailure;
    return nullptr;
  }
  catchUpWithNotices();
  const pa_context_state_t state = pa_context_get_state(context_);
  if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
    // The server went away since the last cycle: connect afresh now.
    disconnect();
    return answer();
  }
  if (!changed_ && last_ && now - listedAt_ < kListAtLeastEvery) return &*last_;
  changed_ = false;  // a notice from here on asks for the next listing
  last_ = fetch(deadline);
  listedAt_ = now;
  ++generation_;
  if (!last_) {
    // A connection that missed its bound may still deliver a stale answer; start afresh.
    disconnect();
    quietUntil_ = Clock::now() + kQuietAfterFailure;
    return nullptr;
  }
  return &*last_;
}

std::optional<SoundServerState> PulseConnection::fetch(Clock::time_point deadline) {
  SoundServerState state;
  Request request{&state};
  const auto await = [&](std::vector<pa_operation*> operations) {
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
    return answered;
  };
  // With the lists, the monitor's own connection: on PipeWire its security
  // pid is the pulse server's, which therefore says nothing of a client.
  state.ownClient = pa_context_get_index(context_);
  std::vector<pa_operation*> lists = {pa_context_get_source_output_info_list(context_, onStream, &request),
                                      pa_context_get_source_info_list(context_, onSource, &request),
                                      pa_context_get_sink_info_list(context_, onSink, &request),
                                      pa_context_get_sink_input_info_list(context_, onPlayback, &request)};
  if (state.ownClient != kNoIndex) lists.push_back(pa_context_get_client_info(context_, state.ownClient, onClient, &request));
  if (!await(std::move(lists))) return std::nullopt;
  // The clients of new streams, each once (a stream of the last listing keeps
  // its pid): a client's properties hold the pid the kernel gave for it where
  // the server keeps one, as PipeWire does for every connection, the
  // monitor's own included. Elsewhere only a stream without a pid of its own
  // needs its client's.
  const bool kernelPids = !state.clients.empty() && state.clients.front().properties.count("pipewire.sec.pid") != 0;
  const SoundServerState* earlier = last_ ? &*last_ : nullptr;
  std::vector<pa_operation*> clients;
  std::vector<std::uint32_t> asked;
  for (const CaptureStream& stream : state.streams) {
    if (stream.client == kNoIndex || sameStream(stream, earlier) != nullptr) continue;
    if (!kernelPids && stream.properties.count("application.process.id") != 0) continue;
    if (std::find(asked.begin(), asked.end(), stream.client) != asked.end()) continue;
    asked.push_back(stream.client);
  }
  if (asked.size() > kClientsAskedOneByOne) {
    request.wantedClients = &asked;
    clients.push_back(pa_context_get_client_info_list(context_, onClient, &request));
  } else {
    for (const std::uint32_t client : asked)
      clients.push_back(pa_context_get_client_info(context_, client, onClient, &request));
  }
  if (!clients.empty() && !await(std::move(clients))) return std::nullopt;
  state.socketPath = unixSocketPath(pa_context_get_server(context_));
  resolveStreamPids(state, root_, earlier);
  return state;
}

}  // namespace linux_source
