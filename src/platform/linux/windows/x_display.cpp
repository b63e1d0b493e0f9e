#include "platform/linux/windows/x_display.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/linux/identity/host_pids.h"
#include "platform/linux/server_bounds.h"
#include "platform/linux/sigpipe_guard.h"

namespace linux_source {
namespace {

constexpr auto kListAtLeastEvery = std::chrono::seconds(10);
constexpr auto kUnwatchedListingServes = std::chrono::milliseconds(250);
constexpr std::uint32_t kWatchRoot = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
constexpr std::uint32_t kWatchWindow = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
constexpr std::uint32_t kTitleWords = 16384;  // 64 KiB of title is plenty
constexpr std::uint32_t kMaxClients = 65536;
constexpr std::uint32_t kMaxTypes = 32;
// The line names no more than the first twelve windows of a process (the
// titles code reads no further), so the others' titles are not asked for.
constexpr std::size_t kTitledWindowsPerProcess = 12;

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

void appendLatin1(std::string& out, unsigned char c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// EWMH's window types, normal first.
const char* const kWindowTypes[] = {
    "_NET_WM_WINDOW_TYPE_NORMAL",       "_NET_WM_WINDOW_TYPE_DIALOG",        "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",      "_NET_WM_WINDOW_TYPE_MENU",          "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DOCK",         "_NET_WM_WINDOW_TYPE_DESKTOP",       "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_POPUP_MENU",   "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_COMBO",        "_NET_WM_WINDOW_TYPE_DND",
};

// Each client connection's base ID and the pid the server knows it by.
std::map<std::uint32_t, pid_t> clientPidsFrom(void* answer) {
  std::map<std::uint32_t, pid_t> pids;
  Reply<xcb_res_query_client_ids_reply_t> reply(static_cast<xcb_res_query_client_ids_reply_t*>(answer));
  if (!reply) return pids;
  for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem > 0; xcb_res_client_id_value_next(&ids)) {
    const auto& [asked, length] = *ids.data;
    if (asked.mask != XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID || length != 4) continue;
    const std::uint32_t pid = *xcb_res_client_id_value_value(ids.data);
    if (pid > 0 && pid <= 0x7FFFFFFF) pids[asked.client] = static_cast<pid_t>(pid);
  }
  return pids;
}

}  // namespace

bool isNormalWindow(const std::vector<std::uint32_t>& types, bool transient,
                    const std::vector<std::uint32_t>& knownTypes) {
  // A window lists its types in order of preference; the first one known is
  // its type, as a window manager takes it.
  for (std::uint32_t type : types) {
    const auto known = std::find(knownTypes.begin(), knownTypes.end(), type);
    if (known != knownTypes.end()) return known == knownTypes.begin();
  }
  // Without a type: a dialog when it is transient for another window, else normal.
  return !transient;
}

std::string windowNameAsUtf8(const std::string& bytes, bool latin1, bool compound) {
  if (!latin1 && !compound) return bytes;
  std::string out;
  if (!compound) {
    for (unsigned char c : bytes) appendLatin1(out, c);
    return out;
  }
  // ISO 2022 as COMPOUND_TEXT uses it: ASCII on the left, Latin-1 on the
  // right, and UTF-8 segments between ESC % G and ESC % @. Characters of other
  // sets cannot be told apart here and become U+FFFD.
  bool utf8 = false, leftAscii = true, rightLatin1 = true;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == 0x1B) {
      std::string intermediates;
      std::size_t j = i + 1;
      while (j < bytes.size() && static_cast<unsigned char>(bytes[j]) >= 0x20 && static_cast<unsigned char>(bytes[j]) <= 0x2F)
        intermediates += bytes[j++];
      const char final = j < bytes.size() ? bytes[j] : '\0';
      i = j;
      if (intermediates == "%") utf8 = final == 'G';
      else if (intermediates == "(") leftAscii = final == 'B';
      else if (intermediates == "-") rightLatin1 = final == 'A';
      else if (intermediates == "$(") leftAscii = false;
      else if (intermediates == "$)" || intermediates == ")") rightLatin1 = false;
      continue;
    }
    if (utf8 || c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      out += static_cast<char>(c);
    } else if (c < 0x80) {
      out += leftAscii ? std::string(1, static_cast<char>(c)) : std::string("\xEF\xBF\xBD");
    } else if (rightLatin1) {
      appendLatin1(out, c);
    } else {
      out += "\xEF\xBF\xBD";
    }
  }
  return out;
}

bool displayAnswers(const char* display, std::chrono::milliseconds bound) {
  char* host = nullptr;
  int number = 0;
  if (xcb_parse_display(display, &host, &number, nullptr) == 0) return false;
  const std::string hostName = host;
  std::free(host);
  if (!hostName.empty() && hostName != "unix") return true;
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  // The abstract name first, as xcb does, then the file.
  bool connected = false;
  for (const bool abstract : {true, false}) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path) break;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 || errno == EINPROGRESS) {
      connected = true;
      break;
    }
  }
  // A setup request without authorization: any answer at all (success,
  // failure, a demand to authenticate) shows a server that answers.
  const unsigned char setup[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  bool answered = false;
  if (connected && ::send(fd, setup, sizeof setup, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof setup)) {
    pollfd descriptor{fd, POLLIN, 0};
    unsigned char reply[8];
    answered = ::poll(&descriptor, 1, static_cast<int>(bound.count())) == 1 && ::recv(fd, reply, sizeof reply, 0) > 0;
  }
  ::close(fd);
  return answered;
}

XDisplay::~XDisplay() { disconnect(); }

void XDisplay::disconnect() {
  if (connection_ != nullptr) xcb_disconnect(connection_);
  connection_ = nullptr;
}

void* XDisplay::await(unsigned sequence) {
  if (connection_ == nullptr) return nullptr;
  xcb_flush(connection_);
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(connection_, sequence, &reply, &error) != 0) {
      std::free(error);
      return reply;
    }
    if (xcb_connection_has_error(connection_) != 0) return nullptr;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
    if (left <= 0 || ::poll(&descriptor, 1, static_cast<int>(left)) <= 0) {
      // A server that does not answer in time is dropped, so that its late
      // answers can never be taken for those of a later question.
      disconnect();
      quietUntil_ = Clock::now() + kQuietAfterFailure;
      return nullptr;
    }
  }
}

bool XDisplay::connect() {
  if (connection_ != nullptr) {
    if (xcb_connection_has_error(connection_) == 0) return true;
    disconnect();
  }
  if (Clock::now() < quietUntil_) return false;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  if (!displayAnswers(display, std::chrono::duration_cast<std::chrono::milliseconds>(kAnswerBound))) {
    quietUntil_ = Clock::now() + kQuietAfterFailure;
    return false;
  }
  int screen = 0;
  connection_ = xcb_connect(nullptr, &screen);
  if (xcb_connection_has_error(connection_) != 0) {
    disconnect();
    quietUntil_ = Clock::now() + kQuietAfterFailure;
    return false;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
  for (int i = 0; i < screen && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0) {
    disconnect();
    return false;
  }
  root_ = screens.data->root;
  // Asked for before the atoms, so its answer is in by the time theirs are
  // and reading it cannot wait past the deadline.
  xcb_prefetch_extension_data(connection_, &xcb_res_id);
  const char* names[] = {"_NET_CLIENT_LIST", "_NET_WM_PID", "_NET_WM_NAME", "UTF8_STRING", "COMPOUND_TEXT",
                         "_NET_WM_WINDOW_TYPE"};
  unsigned* atoms[] = {&clientList_, &wmPid_, &netWmName_, &utf8String_, &compoundText_, &windowType_};
  constexpr std::size_t kNamed = std::size(names);
  std::vector<xcb_intern_atom_cookie_t> cookies;
  const auto intern = [&](const char* name) {
    cookies.push_back(xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::char_traits<char>::length(name)), name));
  };
  for (const char* name : names) intern(name);
  for (const char* name : kWindowTypes) intern(name);
  deadline_ = Clock::now() + kAnswerBound;
  windowTypes_.clear();
  for (std::size_t i = 0; i < cookies.size(); ++i) {
    Reply<xcb_intern_atom_reply_t> reply(static_cast<xcb_intern_atom_reply_t*>(await(cookies[i].sequence)));
    if (!reply) {
      disconnect();
      return false;
    }
    if (i < kNamed) *atoms[i] = reply->atom;
    else windowTypes_.push_back(reply->atom);
  }
  xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &kWatchRoot);
  changed_ = true;
  listings_ = 0;
  return askClientPids();
}

bool XDisplay::askClientPids() {
  // X-Resource 1.2 tells which process each client connection belongs to.
  clientPids_ = false;
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection_, &xcb_res_id);
  if (extension == nullptr || extension->present == 0) return true;
  Reply<xcb_res_query_version_reply_t> version(
      static_cast<xcb_res_query_version_reply_t*>(await(xcb_res_query_version(connection_, 1, 2).sequence)));
  if (connection_ == nullptr) return false;
  clientPids_ = version && (version->server_major > 1 || (version->server_major == 1 && version->server_minor >= 2));
  return true;
}

// A sandboxed client calls itself by its sandbox pid in _NET_WM_PID; the X
// server knows its connection's host pid from the socket. When the window's
// pid is what the connection's process is called inside its innermost
// namespace, the window is that process's. Any other pid stays as the client
// set it: a client may name another process as a window's owner.
pid_t XDisplay::windowPid(pid_t declared, const Connection& client, std::map<Connection, pid_t>& innermost) {
  if (client.second <= 0 || client.second == declared) return declared;
  auto known = innermost.find(client);
  if (known == innermost.end()) {
    // A connection's process and its namespaces stay while it is connected,
    // so the last listing's answer holds.
    auto earlier = innermost_.find(client);
    pid_t inside = 0;
    if (earlier != innermost_.end()) {
      inside = earlier->second;
    } else {
      const std::vector<pid_t> pids = namespacePids(procRoot_, client.second);
      if (pids.size() > 1) inside = pids.back();
    }
    known = innermost.emplace(client, inside).first;
  }
  return known->second == declared ? client.second : declared;
}

bool XDisplay::reachable() {
  SigpipeGuard guard;
  catchUp();
  return connect();
}

void XDisplay::catchUp() {
  if (connection_ == nullptr) return;
  // Read now, so that a desktop busy with its windows cannot fill the
  // connection while no browser holder asks for titles.
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
    switch (event->response_type & 0x7F) {
      case XCB_PROPERTY_NOTIFY: {
        const xcb_atom_t atom = reinterpret_cast<const xcb_property_notify_event_t*>(event)->atom;
        if (atom == clientList_ || atom == wmPid_ || atom == netWmName_ || atom == XCB_ATOM_WM_NAME ||
            atom == windowType_ || atom == XCB_ATOM_WM_TRANSIENT_FOR)
          changed_ = noticed_ = true;
        break;
      }
      case XCB_MAP_NOTIFY:
      case XCB_UNMAP_NOTIFY:
      case XCB_DESTROY_NOTIFY:
      case XCB_REPARENT_NOTIFY: changed_ = noticed_ = true; break;
      default: break;  // moves, new windows not yet shown, errors about windows that have gone
    }
    std::free(event);
  }
}

int XDisplay::noticeDescriptor() const {
  return connection_ != nullptr ? xcb_get_file_descriptor(connection_) : -1;
}

bool XDisplay::takeNotices() {
  catchUp();
  return std::exchange(noticed_, false);
}

bool XDisplay::broken() const { return connection_ != nullptr && xcb_connection_has_error(connection_) != 0; }

const std::optional<std::vector<ClientWindow>>& XDisplay::clientWindows() {
  SigpipeGuard guard;
  // The server tells of every change that could alter the listing; until it
  // does, the last listing stands, except once every few seconds in case a
  // notice was ever lost. One round trip first: the server answers only after
  // it has sent every notice of what came before, and a server that does not
  // answer lists nothing.
  if (last_ && connection_ != nullptr && Clock::now() - listedAt_ < kListAtLeastEvery) {
    deadline_ = Clock::now() + kAnswerBound;
    std::free(await(xcb_get_input_focus(connection_).sequence));
    if (connection_ == nullptr) {
      last_ = std::nullopt;
      return last_;
    }
    catchUp();
    // The first listing of a connection watches no window (a run that asks
    // once has no use for notices), so it serves only the cycle that made it.
    if (listings_ == 1 && Clock::now() - listedAt_ >= kUnwatchedListingServes) changed_ = true;
    if (!changed_ && xcb_connection_has_error(connection_) == 0) return last_;
  }
  changed_ = false;  // a notice from here on asks for the next listing
  last_ = listWindows();
  listedAt_ = Clock::now();
  if (!last_) changed_ = true;
  else if (listings_ < 2) ++listings_;
  return last_;
}

void XDisplay::watch(const std::vector<xcb_window_t>& windows) {
  for (xcb_window_t window : windows) xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &kWatchWindow);
}

std::optional<std::vector<ClientWindow>> XDisplay::listWindows() {
  if (!connect()) return std::nullopt;
  deadline_ = Clock::now() + kAnswerBound;
  // Every client's pid in one question (client 0 asks for all of them),
  // answered while the windows are listed.
  const xcb_res_client_id_spec_t everyClient{0, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
  const bool askedClients = clientPids_;
  const unsigned clientIds = askedClients ? xcb_res_query_client_ids(connection_, 1, &everyClient).sequence : 0;
  auto listed = normalWindows();
  if (!listed) {
    if (askedClients && connection_ != nullptr) xcb_discard_reply(connection_, clientIds);
    return std::nullopt;
  }
  if (askedClients) {
    void* answer = await(clientIds);
    if (connection_ == nullptr) return std::nullopt;
    const std::map<std::uint32_t, pid_t> clients = clientPidsFrom(answer);
    // A window's ID carries its client's base ID in the bits outside the mask.
    const std::uint32_t clientBits = ~xcb_get_setup(connection_)->resource_id_mask;
    std::map<Connection, pid_t> innermost;
    for (auto& [window, client] : *listed) {
      const auto owner = clients.find(window & clientBits);
      if (owner != clients.end()) client.pid = windowPid(client.pid, Connection{owner->first, owner->second}, innermost);
    }
    innermost_ = std::move(innermost);
  }
  if (!nameWindows(*listed)) return std::nullopt;
  std::vector<ClientWindow> windows;
  windows.reserve(listed->size());
  for (auto& [window, client] : *listed) windows.push_back(std::move(client));
  return windows;
}

std::optional<std::vector<std::pair<std::uint32_t, ClientWindow>>> XDisplay::normalWindows() {
  Reply<xcb_get_property_reply_t> list(static_cast<xcb_get_property_reply_t*>(
      await(xcb_get_property(connection_, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, kMaxClients).sequence)));
  if (connection_ == nullptr) return std::nullopt;
  if (list && list->type == XCB_ATOM_WINDOW && list->format == 32) {
    const auto* listed = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    auto described = describe({listed, listed + xcb_get_property_value_length(list.get()) / 4});
    if (!described) return std::nullopt;
    std::vector<std::pair<std::uint32_t, ClientWindow>> windows;
    for (Described& window : *described)
      if (window.client) windows.emplace_back(window.window, std::move(*window.client));
    return windows;
  }

  // No client list: the mapped top-level windows, bottom to top. Browsers
  // also own unmapped leader and indicator windows, which are not pages.
  const auto topLevel = childrenOf({root_});
  if (!topLevel) return std::nullopt;
  const std::vector<xcb_window_t>& children = topLevel->front();
  std::vector<xcb_get_window_attributes_cookie_t> cookies;
  cookies.reserve(children.size());
  for (xcb_window_t child : children) cookies.push_back(xcb_get_window_attributes(connection_, child));
  std::vector<xcb_window_t> mapped;
  for (std::size_t i = 0; i < children.size(); ++i) {
    Reply<xcb_get_window_attributes_reply_t> attributes(
        static_cast<xcb_get_window_attributes_reply_t*>(await(cookies[i].sequence)));
    if (connection_ == nullptr) return std::nullopt;
    if (attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED) mapped.push_back(children[i]);
  }
  const auto described = describe(mapped);
  if (!described) return std::nullopt;
  // A window manager that keeps no client list may still put each client in
  // a frame of its own (weston's does): a mapped window without a pid is
  // looked into once, and its clients take its place.
  std::vector<xcb_window_t> frames;
  for (std::size_t i = 0; i < mapped.size(); ++i)
    if (!(*described)[i].hasPid) frames.push_back(mapped[i]);
  const auto framed = childrenOf(frames);
  if (!framed) return std::nullopt;
  std::vector<xcb_window_t> inFrames;
  for (const auto& clients : *framed) inFrames.insert(inFrames.end(), clients.begin(), clients.end());
  const auto describedInFrames = describe(inFrames);
  if (!describedInFrames) return std::nullopt;

  std::vector<std::pair<std::uint32_t, ClientWindow>> windows;
  std::size_t frame = 0, inFrame = 0;
  const auto keep = [&windows](const Described& window) {
    if (window.client) windows.emplace_back(window.window, *window.client);
  };
  for (const Described& window : *described) {
    if (window.hasPid) {
      keep(window);
      continue;
    }
    for (std::size_t k = 0; k < (*framed)[frame].size(); ++k) keep((*describedInFrames)[inFrame++]);
    ++frame;
  }
  return windows;
}

std::optional<std::vector<std::vector<xcb_window_t>>> XDisplay::childrenOf(const std::vector<xcb_window_t>& parents) {
  std::vector<xcb_query_tree_cookie_t> cookies;
  cookies.reserve(parents.size());
  for (xcb_window_t parent : parents) cookies.push_back(xcb_query_tree(connection_, parent));
  std::vector<std::vector<xcb_window_t>> children;
  for (const xcb_query_tree_cookie_t& cookie : cookies) {
    Reply<xcb_query_tree_reply_t> tree(static_cast<xcb_query_tree_reply_t*>(await(cookie.sequence)));
    if (connection_ == nullptr) return std::nullopt;
    if (!tree) {
      children.emplace_back();  // gone since it was listed
      continue;
    }
    const xcb_window_t* listed = xcb_query_tree_children(tree.get());
    children.emplace_back(listed, listed + xcb_query_tree_children_length(tree.get()));
  }
  return children;
}

std::optional<std::vector<XDisplay::Described>> XDisplay::describe(const std::vector<xcb_window_t>& candidates) {
  // What each window answers in one batch: its pid, type and whether it is
  // transient. Titles are asked afterwards, once the pids are known.
  struct Pending {
    xcb_get_property_cookie_t pid, type, transientFor;
  };
  if (listings_ > 0) watch(candidates);
  std::vector<Pending> pending;
  pending.reserve(candidates.size());
  for (xcb_window_t window : candidates) {
    pending.push_back({xcb_get_property(connection_, 0, window, wmPid_, XCB_ATOM_CARDINAL, 0, 1),
                       xcb_get_property(connection_, 0, window, windowType_, XCB_ATOM_ATOM, 0, kMaxTypes),
                       xcb_get_property(connection_, 0, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1)});
  }
  std::vector<Described> described;
  described.reserve(candidates.size());
  for (const Pending& request : pending) {
    Reply<xcb_get_property_reply_t> pid(static_cast<xcb_get_property_reply_t*>(await(request.pid.sequence)));
    Reply<xcb_get_property_reply_t> type(static_cast<xcb_get_property_reply_t*>(await(request.type.sequence)));
    Reply<xcb_get_property_reply_t> transientFor(
        static_cast<xcb_get_property_reply_t*>(await(request.transientFor.sequence)));
    if (connection_ == nullptr) return std::nullopt;
    Described& window = described.emplace_back();
    window.window = candidates[described.size() - 1];
    window.hasPid =
        pid && pid->type == XCB_ATOM_CARDINAL && pid->format == 32 && xcb_get_property_value_length(pid.get()) >= 4;
    if (!window.hasPid) continue;
    std::vector<std::uint32_t> types;
    if (type && type->type == XCB_ATOM_ATOM && type->format == 32) {
      const auto* listed = static_cast<const std::uint32_t*>(xcb_get_property_value(type.get()));
      types.assign(listed, listed + xcb_get_property_value_length(type.get()) / 4);
    }
    const bool transient = transientFor && transientFor->type == XCB_ATOM_WINDOW && transientFor->format == 32 &&
                           xcb_get_property_value_length(transientFor.get()) >= 4;
    if (!isNormalWindow(types, transient, windowTypes_)) continue;
    window.client.emplace().pid =
        static_cast<pid_t>(*static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get())));
  }
  return described;
}

bool XDisplay::nameWindows(std::vector<std::pair<std::uint32_t, ClientWindow>>& windows) {
  // The UTF-8 title of the first windows of each process in one batch; the
  // legacy WM_NAME counts only for a window without one, and is asked for
  // those alone afterwards.
  const auto text = [](const xcb_get_property_reply_t& reply) {
    return std::string(static_cast<const char*>(xcb_get_property_value(&reply)),
                       static_cast<std::size_t>(xcb_get_property_value_length(&reply)));
  };
  std::map<pid_t, std::size_t> titled;
  std::vector<std::pair<std::size_t, xcb_get_property_cookie_t>> names;  // place in windows, the request
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (titled[windows[i].second.pid]++ >= kTitledWindowsPerProcess) continue;
    names.emplace_back(i, xcb_get_property(connection_, 0, windows[i].first, netWmName_, utf8String_, 0, kTitleWords));
  }
  std::vector<std::pair<std::size_t, xcb_get_property_cookie_t>> legacyNames;
  for (const auto& [place, cookie] : names) {
    Reply<xcb_get_property_reply_t> name(static_cast<xcb_get_property_reply_t*>(await(cookie.sequence)));
    if (connection_ == nullptr) return false;
    if (name && name->type == utf8String_ && name->format == 8) windows[place].second.title = text(*name);
    else
      legacyNames.emplace_back(place, xcb_get_property(connection_, 0, windows[place].first, XCB_ATOM_WM_NAME,
                                                       XCB_GET_PROPERTY_TYPE_ANY, 0, kTitleWords));
  }
  for (const auto& [place, cookie] : legacyNames) {
    Reply<xcb_get_property_reply_t> name(static_cast<xcb_get_property_reply_t*>(await(cookie.sequence)));
    if (connection_ == nullptr) return false;
    if (name && name->format == 8 && name->type != XCB_ATOM_NONE)
      windows[place].second.title =
          windowNameAsUtf8(text(*name), name->type == XCB_ATOM_STRING, name->type == compoundText_);
  }
  return true;
}

}  // namespace linux_source
