// The accessibility bus (AT-SPI 2), asked over D-Bus: whether accessibility
// is switched on, which applications are registered, and the top-level
// objects of one of them. The desktop's session bus says where the
// accessibility bus is and whether it is on. All the questions of one cycle,
// to both buses and every application, share one bound; an application that
// does not answer within its share is left alone for a moment.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/server_bounds.h"
#include "platform/linux/windows/bus_connection.h"
#include "platform/linux/windows/bus_replies.h"

namespace linux_source {

struct AccessibleApplication {
  AccessibleReference root;
  pid_t pid = -1;
};

// A top-level object of an application: a window, a dialog, an alert, ...
struct AccessibleChild {
  std::uint32_t role = 0;                 // AT-SPI's role number
  std::optional<std::string> name;        // nothing when it could not be read
};

class AccessibilityBus {
 public:
  // A cycle begins: its questions may wait kCycleBound together from now.
  void beginCycle();

  // Whether accessibility is switched on (org.a11y.Status IsEnabled). One
  // question to the session bus per cycle; when the cycle's time is used up
  // before it is asked, the last answer stands.
  bool switchedOn();

  // Switched on, and the accessibility bus did not fail to answer just now.
  bool readable();

  // The applications registered on the accessibility bus, in the registry's
  // order; nothing when the bus or its registry does not answer. One listing
  // per cycle.
  std::optional<std::vector<AccessibleApplication>> applications();

  // The application's top-level objects, in its own order; nothing when it
  // does not answer within its share of the cycle.
  std::optional<std::vector<AccessibleChild>> children(const AccessibleReference& application);

 private:
  // When a question asked now must be answered: within kAnswerBound and
  // within the cycle. Nothing once the cycle's time is used up.
  std::optional<Clock::time_point> deadline() const;
  // The accessibility bus's address, learned without starting the bus: empty
  // when the launcher has not started it yet (no application is on it then),
  // nothing when the session bus or the launcher does not tell.
  std::optional<std::string> accessibilityAddress(Clock::time_point deadline);
  bool openSession(Clock::time_point deadline);
  // The launcher's answer on the session bus; null for an error, or when the
  // bus or the launcher does not answer by the deadline (the bus is then
  // left alone for a moment).
  Message askLauncher(Message call, Clock::time_point deadline);
  enum class Opened { yes, notStarted, failed };
  Opened openAccessibility(Clock::time_point deadline);
  void accessibilityFailed();
  // The batch's answers, with a question to the bus itself at its end: a bus
  // that answers that one is alive, whatever its applications did.
  std::optional<Replies> askAlongsideBus(std::vector<Message> calls, Clock::time_point deadline);

  BusConnection session_;
  BusConnection accessibility_;
  Clock::time_point sessionQuietUntil_{};
  Clock::time_point accessibilityQuietUntil_{};
  Clock::time_point cycleEnds_{};
  std::uint64_t cycle_ = 0;
  bool switchedOn_ = false;
  std::uint64_t askedIn_ = 0;  // the cycle whose answer switchedOn_ is
  std::optional<std::vector<AccessibleApplication>> applications_;
  std::uint64_t listedIn_ = 0;
  std::map<std::string, pid_t> pidOfName_;               // unique names are never reused on a bus
  std::map<std::string, Clock::time_point> unanswering_;  // applications that missed the bound, until when
};

// How long all the questions of one cycle may wait together. With the
// poll's two seconds it keeps lines at most three seconds apart, whatever
// the peers on the buses do.
constexpr auto kCycleBound = std::chrono::milliseconds(800);

// AT-SPI's role number of a top-level window with a title bar.
constexpr std::uint32_t kRoleFrame = 23;

}  // namespace linux_source
