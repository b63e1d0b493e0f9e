#include "platform/linux/windows/x_display.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/res.h>
#include <xcb/xcbext.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "platform/linux/identity/host_pids.h"
#include "platform/linux/server_bounds.h"
#include "platform/linux/sigpipe_guard.h"

namespace linux_source {
namespace {

constexpr auto kOneCycle = std::chrono::milliseconds(250);
constexpr std::uint32_t kTitleWords = 16384;  // 64 KiB of title is plenty
constexpr std::uint32_t kMaxClients = 65536;

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

// Each client connection's base ID and the pid the server knows it by.
std::map<std::uint32_t, pid_t> clientPidsFrom(void* answer) {
  std::map<std::uint32_t, pid_t> pids;
  Reply<xcb_res_query_client_ids_reply_t> reply(static_cast<xcb_res_query_client_ids_reply_t*>(answer));
  if (!reply) return pids;
  for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem > 0; xcb_res_client_id_value_next(&ids)) {
    const xcb_res_client_id_value_t& id = *ids.data;
    if (id.spec.mask != XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID || id.length != 4) continue;
    const std::uint32_t pid = *xcb_res_client_id_value_value(ids.data);
    if (pid > 0 && pid <= 0x7FFFFFFF) pids[id.spec.client] = static_cast<pid_t>(pid);
  }
  return pids;
}

}  // namespace

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
  const char* names[] = {"_NET_CLIENT_LIST", "_NET_WM_PID", "_NET_WM_NAME", "UTF8_STRING", "COMPOUND_TEXT"};
  unsigned* atoms[] = {&clientList_, &wmPid_, &netWmName_, &utf8String_, &compoundText_};
  xcb_intern_atom_cookie_t cookies[5];
  for (int i = 0; i < 5; ++i)
    cookies[i] = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::char_traits<char>::length(names[i])), names[i]);
  deadline_ = Clock::now() + kAnswerBound;
  for (int i = 0; i < 5; ++i) {
    Reply<xcb_intern_atom_reply_t> reply(static_cast<xcb_intern_atom_reply_t*>(await(cookies[i].sequence)));
    if (!reply) {
      disconnect();
      return false;
    }
    *atoms[i] = reply->atom;
  }
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
  return connect();
}

std::optional<std::vector<ClientWindow>> XDisplay::clientWindows() {
  const Clock::time_point now = Clock::now();
  if (last_ && connection_ != nullptr && now - listedAt_ < kOneCycle) return last_;
  last_ = listWindows();
  listedAt_ = Clock::now();
  return last_;
}

std::optional<std::vector<ClientWindow>> XDisplay::listWindows() {
  SigpipeGuard guard;
  if (!connect()) return std::nullopt;
  deadline_ = Clock::now() + kAnswerBound;

  std::vector<xcb_window_t> candidates;
  Reply<xcb_get_property_reply_t> list(static_cast<xcb_get_property_reply_t*>(
      await(xcb_get_property(connection_, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, kMaxClients).sequence)));
  if (connection_ == nullptr) return std::nullopt;
  if (list && list->type == XCB_ATOM_WINDOW && list->format == 32) {
    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    candidates.assign(windows, windows + xcb_get_property_value_length(list.get()) / 4);
  } else {
    // No window manager: the mapped top-level windows, bottom to top. Browsers
    // also own unmapped leader and indicator windows, which are not pages.
    Reply<xcb_query_tree_reply_t> tree(
        static_cast<xcb_query_tree_reply_t*>(await(xcb_query_tree(connection_, root_).sequence)));
    if (!tree) return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    cookies.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) cookies.push_back(xcb_get_window_attributes(connection_, children[i]));
    for (int i = 0; i < count; ++i) {
      Reply<xcb_get_window_attributes_reply_t> attributes(
          static_cast<xcb_get_window_attributes_reply_t*>(await(cookies[static_cast<std::size_t>(i)].sequence)));
      if (connection_ == nullptr) return std::nullopt;
      if (attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED) candidates.push_back(children[i]);
    }
  }

  struct Pending {
    xcb_get_property_cookie_t pid, netName, name;
  };
  std::vector<Pending> pending;
  pending.reserve(candidates.size());
  for (xcb_window_t window : candidates) {
    pending.push_back({xcb_get_property(connection_, 0, window, wmPid_, XCB_ATOM_CARDINAL, 0, 1),
                       xcb_get_property(connection_, 0, window, netWmName_, utf8String_, 0, kTitleWords),
                       xcb_get_property(connection_, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                        kTitleWords)});
  }
  // Every client's pid in one question (client 0 asks for all of them).
  const xcb_res_client_id_spec_t everyClient{0, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
  const bool askedClients = clientPids_;
  const unsigned clientIds = askedClients ? xcb_res_query_client_ids(connection_, 1, &everyClient).sequence : 0;
  std::vector<ClientWindow> windows;
  std::vector<xcb_window_t> kept;
  for (std::size_t i = 0; i < pending.size(); ++i) {
    const Pending& request = pending[i];
    Reply<xcb_get_property_reply_t> pid(static_cast<xcb_get_property_reply_t*>(await(request.pid.sequence)));
    Reply<xcb_get_property_reply_t> netName(static_cast<xcb_get_property_reply_t*>(await(request.netName.sequence)));
    Reply<xcb_get_property_reply_t> name(static_cast<xcb_get_property_reply_t*>(await(request.name.sequence)));
    if (connection_ == nullptr) return std::nullopt;
    if (!pid || pid->type != XCB_ATOM_CARDINAL || pid->format != 32 || xcb_get_property_value_length(pid.get()) < 4)
      continue;
    ClientWindow window;
    window.pid = static_cast<pid_t>(*static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get())));
    const auto text = [](const xcb_get_property_reply_t& reply) {
      return std::string(static_cast<const char*>(xcb_get_property_value(&reply)),
                         static_cast<std::size_t>(xcb_get_property_value_length(&reply)));
    };
    if (netName && netName->type == utf8String_ && netName->format == 8) {
      window.title = text(*netName);
    } else if (name && name->format == 8 && name->type != XCB_ATOM_NONE) {
      window.title = windowNameAsUtf8(text(*name), name->type == XCB_ATOM_STRING, name->type == compoundText_);
    }
    windows.push_back(std::move(window));
    kept.push_back(candidates[i]);
  }
  if (askedClients) {
    void* answer = await(clientIds);
    if (connection_ == nullptr) return std::nullopt;
    const std::map<std::uint32_t, pid_t> clients = clientPidsFrom(answer);
    // A window's ID carries its client's base ID in the bits outside the mask.
    const std::uint32_t clientBits = ~xcb_get_setup(connection_)->resource_id_mask;
    std::map<Connection, pid_t> innermost;
    for (std::size_t i = 0; i < windows.size(); ++i) {
      const auto client = clients.find(kept[i] & clientBits);
      if (client != clients.end()) windows[i].pid = windowPid(windows[i].pid, Connection{client->first, client->second}, innermost);
    }
    innermost_ = std::move(innermost);
  }
  return windows;
}

}  // namespace linux_source
