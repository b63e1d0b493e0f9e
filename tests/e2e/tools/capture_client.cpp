// A capture client for the end-to-end tests: records from a source as an
// ordinary recorder, a corked stream or a level meter would, until killed.
// With --flood N it stops and starts recording N times a second (corking and
// uncorking its stream), as a flood of changes. With --on-command it writes
// "ready" once connected and then records from each line "start" on its
// standard input to the next line "stop", a new stream each time, and writes
// "recording" when the server has made each stream.
//   capture_client SOURCE [--corked] [--peak] [--rate N] [--flood N] [--on-command]
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

struct Options {
  const char* source = nullptr;
  bool corked = false;
  bool peak = false;
  unsigned rate = 48000;
  unsigned flood = 0;  // stops and starts a second
  bool onCommand = false;
};

Options options;
pa_stream* stream = nullptr;

void onRead(pa_stream* s, std::size_t, void*) {
  const void* data = nullptr;
  std::size_t bytes = 0;
  while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) pa_stream_drop(s);
}

void onFloodTick(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* userdata) {
  static bool corked = false;
  corked = !corked;
  if (pa_operation* operation = pa_stream_cork(stream, corked ? 1 : 0, nullptr, nullptr)) pa_operation_unref(operation);
  auto* context = static_cast<pa_context*>(userdata);
  pa_context_rttime_restart(context, event, pa_rtclock_now() + 1000000 / (2 * options.flood));
}

void onStreamState(pa_stream* s, void* userdata) {
  if (pa_stream_get_state(s) == PA_STREAM_READY) {
    if (options.flood > 0) {
      auto* context = static_cast<pa_context*>(userdata);
      pa_context_rttime_new(context, pa_rtclock_now() + 1000000 / (2 * options.flood), onFloodTick, context);
    }
    std::printf(options.onCommand ? "recording\n" : "ready\n");
    std::fflush(stdout);
  } else if (pa_stream_get_state(s) == PA_STREAM_FAILED) {
    std::exit(3);
  }
}

void startStream(pa_context* c) {
  pa_sample_spec format{options.peak ? PA_SAMPLE_FLOAT32LE : PA_SAMPLE_S16LE, options.rate, 1};
  stream = pa_stream_new(c, options.peak ? "level meter" : "recording", &format, nullptr);
  pa_stream_set_state_callback(stream, onStreamState, c);
  pa_stream_set_read_callback(stream, onRead, nullptr);
  int flags = PA_STREAM_ADJUST_LATENCY;
  if (options.corked) flags |= PA_STREAM_START_CORKED;
  if (options.peak) flags |= PA_STREAM_PEAK_DETECT | PA_STREAM_DONT_MOVE;
  if (pa_stream_connect_record(stream, options.source, nullptr, static_cast<pa_stream_flags_t>(flags)) < 0)
    std::exit(3);
}

void stopStream() {
  if (stream == nullptr) return;
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
  stream = nullptr;
}

void onCommand(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* userdata) {
  static std::string pending;
  char bytes[256];
  const ssize_t got = read(fd, bytes, sizeof bytes);
  if (got <= 0) std::exit(0);
  pending.append(bytes, static_cast<std::size_t>(got));
  for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
    const std::string command = pending.substr(0, end);
    if (command == "start" && stream == nullptr) startStream(static_cast<pa_context*>(userdata));
    else if (command == "stop") stopStream();
  }
}

void onContextState(pa_context* c, void* userdata) {
  switch (pa_context_get_state(c)) {
    case PA_CONTEXT_READY:
      if (!options.onCommand) {
        startStream(c);
        break;
      }
      static_cast<pa_mainloop_api*>(userdata)->io_new(static_cast<pa_mainloop_api*>(userdata), 0, PA_IO_EVENT_INPUT,
                                                       onCommand, c);
      std::printf("ready\n");
      std::fflush(stdout);
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: std::exit(2);
    default: break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: capture_client SOURCE [--corked] [--peak] [--rate N] [--flood N] [--on-command]\n");
    return 1;
  }
  options.source = argv[1];
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--corked") == 0) options.corked = true;
    else if (std::strcmp(argv[i], "--peak") == 0) options.peak = true;
    else if (std::strcmp(argv[i], "--rate") == 0 && i + 1 < argc) options.rate = static_cast<unsigned>(std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--flood") == 0 && i + 1 < argc) options.flood = static_cast<unsigned>(std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--on-command") == 0) options.onCommand = true;
  }
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "capture_client");
  pa_context_set_state_callback(context, onContextState, pa_mainloop_get_api(loop));
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return 2;
  int result = 0;
  pa_mainloop_run(loop, &result);
  return result;
}
