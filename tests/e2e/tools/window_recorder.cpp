// A toolkit application for the end-to-end tests: GTK windows with chosen
// titles, in the same process as a recording from the sound server, as a
// browser in a call has. Runs until killed.
//   window_recorder SOURCE [--title TEXT]... [--alert TEXT]
// --alert TEXT: a small window whose accessible role is an alert and whose X
// type is a dialog, as Firefox's sharing indicator has.
#include <gtk/gtk.h>
#include <pulse/glib-mainloop.h>
#include <pulse/pulseaudio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* source = nullptr;
bool recording = false;

void onRead(pa_stream* stream, std::size_t, void*) {
  const void* data = nullptr;
  std::size_t bytes = 0;
  while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0)
    pa_stream_drop(stream);
}

void sayReadyOnce() {
  static bool said = false;
  if (said || !recording) return;
  said = true;
  std::printf("ready\n");
  std::fflush(stdout);
}

void onStreamState(pa_stream* stream, void*) {
  if (pa_stream_get_state(stream) == PA_STREAM_READY) {
    recording = true;
    sayReadyOnce();
  } else if (pa_stream_get_state(stream) == PA_STREAM_FAILED) {
    std::exit(3);
  }
}

void onContextState(pa_context* context, void*) {
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
      const pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 1};
      pa_stream* stream = pa_stream_new(context, "recording", &format, nullptr);
      pa_stream_set_state_callback(stream, onStreamState, nullptr);
      pa_stream_set_read_callback(stream, onRead, nullptr);
      if (pa_stream_connect_record(stream, source, nullptr, PA_STREAM_ADJUST_LATENCY) < 0) std::exit(3);
      break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: std::exit(2);
    default: break;
  }
}

GtkWidget* window(const char* title) {
  GtkWidget* shown = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(shown), title);
  gtk_window_set_default_size(GTK_WINDOW(shown), 200, 100);
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_recorder SOURCE [--title TEXT]... [--alert TEXT]\n");
    return 1;
  }
  gtk_init(&argc, &argv);
  source = argv[1];
  std::vector<GtkWidget*> windows;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--title") == 0) {
      windows.push_back(window(argv[i + 1]));
    } else if (std::strcmp(argv[i], "--alert") == 0) {
      GtkWidget* alert = window(argv[i + 1]);
      gtk_window_set_type_hint(GTK_WINDOW(alert), GDK_WINDOW_TYPE_HINT_DIALOG);
      atk_object_set_role(gtk_widget_get_accessible(alert), ATK_ROLE_ALERT);
      windows.push_back(alert);
    } else {
      std::fprintf(stderr, "window_recorder: unknown option %s\n", argv[i]);
      return 1;
    }
  }
  for (GtkWidget* shown : windows) gtk_widget_show_all(shown);

  pa_glib_mainloop* loop = pa_glib_mainloop_new(nullptr);
  pa_context* context = pa_context_new(pa_glib_mainloop_get_api(loop), "window_recorder");
  pa_context_set_state_callback(context, onContextState, nullptr);
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return 2;
  gtk_main();
  return 0;
}
