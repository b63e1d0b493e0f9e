// Maps top-level windows for the end-to-end tests, each with a chosen
// _NET_WM_PID and title, then waits until killed.
//   x_windows PID:KIND:TITLE ...
// PID "self": the tool's own pid, as its namespace calls it (a sandboxed
// client names its windows so).
// KIND: net (_NET_WM_NAME), latin1 (WM_NAME as STRING only), unmapped, untitled
// After "ready", one line with the windows' IDs (0x...), for a test to change them.
#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return value;
}

std::string utf8ToLatin1(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0xC3 && i + 1 < text.size()) out += static_cast<char>(0xC0 | (static_cast<unsigned char>(text[++i]) & 0x3F));
    else if (c == 0xC2 && i + 1 < text.size()) out += text[++i];
    else out += static_cast<char>(c);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) return 2;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_atom_t wmPid = atom(c, "_NET_WM_PID");
  const xcb_atom_t netWmName = atom(c, "_NET_WM_NAME");
  const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
  std::string ids;
  for (int i = 1; i < argc; ++i) {
    const std::string request = argv[i];
    const std::size_t first = request.find(':');
    const std::size_t second = request.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) return 1;
    const std::string named = request.substr(0, first);
    const std::uint32_t pid = named == "self" ? static_cast<std::uint32_t>(getpid())
                                              : static_cast<std::uint32_t>(std::strtoul(named.c_str(), nullptr, 10));
    const std::string kind = request.substr(first + 1, second - first - 1);
    const std::string title = request.substr(second + 1);
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 100, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, wmPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
    if (kind == "net" || kind == "unmapped") {
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netWmName, utf8, 8,
                          static_cast<std::uint32_t>(title.size()), title.data());
    } else if (kind == "latin1") {
      const std::string latin1 = utf8ToLatin1(title);
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                          static_cast<std::uint32_t>(latin1.size()), latin1.data());
    }
    if (kind != "unmapped") xcb_map_window(c, window);
    char id[16];
    std::snprintf(id, sizeof id, "0x%x", window);
    if (!ids.empty()) ids += ' ';
    ids += id;
  }
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // everything is on the server
  std::printf("ready\n%s\n", ids.c_str());
  std::fflush(stdout);
  for (;;) pause();
}
