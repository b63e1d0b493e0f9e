// The one connection to the X server, opened when first needed and opened
// again after the server goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct xcb_connection_t;

namespace linux_source {

struct ClientWindow {
  pid_t pid = -1;
  std::optional<std::string> title;  // UTF-8; nothing when the window has no name
};

class XDisplay {
 public:
  // Process files are read below procRoot.
  explicit XDisplay(std::string procRoot = "/") : procRoot_(std::move(procRoot)) {}
  ~XDisplay();
  XDisplay(const XDisplay&) = delete;
  XDisplay& operator=(const XDisplay&) = delete;

  bool reachable();

  // The normal top-level client windows that carry a pid and that a person
  // can see or bring back: the window manager's client list where there is one,
  // else the mapped children of the root, in that order. Nothing when the
  // server does not answer in time. Listed again only after the server told
  // of a change to those windows (and at least every few seconds). The pid of
  // a sandboxed client's window is its process's pid on the host. The answer
  // stands until the next call.
  const std::optional<std::vector<ClientWindow>>& clientWindows();

  // Takes in what the server has told since the last question.
  void catchUp();

  // For waiting beside a timer: the connection's descriptor (-1 while there is
  // none); whether the server told, since the last call, of a change to the
  // windows or their titles; whether the connection broke.
  int noticeDescriptor() const;
  bool takeNotices();
  bool broken() const;

 private:
  // A window as listed: whether it carries a pid, and the client window it
  // is when it also is a normal window.
  struct Described {
    std::uint32_t window = 0;
    bool hasPid = false;
    std::optional<ClientWindow> client;
  };

  bool connect();
  bool askClientPids();
  using Connection = std::pair<std::uint32_t, pid_t>;  // a client's base ID and its host pid
  pid_t windowPid(pid_t declared, const Connection& client, std::map<Connection, pid_t>& innermost);
  // The normal client windows, each with its ID.
  std::optional<std::vector<std::pair<std::uint32_t, ClientWindow>>> normalWindows();
  // Asks the server to tell of changes to these windows and their properties.
  void watch(const std::vector<std::uint32_t>& windows);
  std::optional<std::vector<ClientWindow>> listWindows();
  // The properties of each window, asked for all at once; nothing when the server fails.
  std::optional<std::vector<Described>> describe(const std::vector<std::uint32_t>& windows);
  // Sets the titles of the first few windows of each pid; false when the server fails.
  bool nameWindows(std::vector<std::pair<std::uint32_t, ClientWindow>>& windows);
  std::optional<std::vector<std::vector<std::uint32_t>>> childrenOf(const std::vector<std::uint32_t>& parents);
  void disconnect();
  // The reply to a request, waiting no longer than the deadline; null for an
  // error, a broken connection or the deadline (which drops the connection).
  void* await(unsigned sequence);

  std::string procRoot_;
  xcb_connection_t* connection_ = nullptr;
  bool clientPids_ = false;                // the server answers X-Resource 1.2's client IDs
  std::map<Connection, pid_t> innermost_;  // each client's innermost pid, from the last listing
  unsigned root_ = 0;
  unsigned clientList_ = 0, wmPid_ = 0, netWmName_ = 0, utf8String_ = 0, compoundText_ = 0, windowType_ = 0;
  std::vector<std::uint32_t> windowTypes_;  // EWMH's window types, normal first
  std::chrono::steady_clock::time_point deadline_{};
  std::chrono::steady_clock::time_point quietUntil_{};
  bool changed_ = true;
  unsigned listings_ = 0;  // listings made on this connection (counted to 2); all but the first watch
  bool noticed_ = false;
  std::optional<std::vector<ClientWindow>> last_;
  std::chrono::steady_clock::time_point listedAt_{};
};

// Whether the X server of a local display (":N", "unix:N") answers a
// connection setup within the bound. xcb_connect waits for that answer
// without any limit, so a hung server is found out here first. Displays on
// other hosts are taken to answer.
bool displayAnswers(const char* display, std::chrono::milliseconds bound);

// Whether a window is a normal top-level window, as EWMH says: its first
// type that is one of knownTypes (normal first), or without a known type,
// not transient for another window. Dialogs, utility windows, docks,
// notifications and the like are not what a person calls a browser's window
// (Firefox's sharing indicator is a dialog).
bool isNormalWindow(const std::vector<std::uint32_t>& types, bool transient, const std::vector<std::uint32_t>& knownTypes);

// WM_NAME in its own encoding, as UTF-8: STRING is Latin-1; COMPOUND_TEXT
// carries ASCII, Latin-1 and UTF-8 segments (as xterm writes its titles).
std::string windowNameAsUtf8(const std::string& bytes, bool latin1, bool compound);

}  // namespace linux_source
