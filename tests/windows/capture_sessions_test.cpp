// Recorded session listings and consent holders, put into the model as the
// Windows source does, then asked for by the probes that write the line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "audio/any_input_running.h"
#include "audio/mic_holders.h"
#include "model_fixture.h"
#include "platform/windows/sound/capture_hal.h"

namespace {

using windows_source::AudioSession;
using windows_source::CaptureEndpoint;
using windows_source::CaptureListing;
using windows_source::ConsentHolder;
using windows_source::NamedHolder;

AudioSession active(std::optional<windows_source::ProcessId> pid) { return AudioSession{true, pid, false}; }
AudioSession inactive(windows_source::ProcessId pid) { return AudioSession{false, pid, false}; }
AudioSession systemSounds(windows_source::ProcessId pid) { return AudioSession{true, pid, true}; }

struct Seen {
  std::int32_t pid;
  std::string bundle;
  std::string name;
  bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& seen, std::ostream* out) { *out << seen.pid << " " << seen.bundle << " " << seen.name; }

class CaptureSessions : public ModelTest {
 protected:
  std::vector<Seen> holdersOf(const CaptureListing& listing, const std::vector<NamedHolder>& consent = {}) {
    windows_source::putProcessObjects(listing, consent, scene());
    std::vector<Seen> seen;
    for (const Holder& holder : micHolders()) seen.push_back(Seen{holder.pid, holder.bundle, holder.name});
    return seen;
  }
};

TEST_F(CaptureSessions, HoldersAreTheProcessesOfActiveSessions) {
  struct Case {
    const char* what;
    CaptureListing listing;
    std::vector<Seen> holders;
  };
  const std::vector<Case> cases = {
      {"no endpoint", {}, {}},
      {"an endpoint without sessions", {{CaptureEndpoint{}}}, {}},
      {"one active session", {{CaptureEndpoint{{active(40)}}}}, {{40, "", "Recorder"}}},
      {"an inactive session", {{CaptureEndpoint{{inactive(40)}}}}, {}},
      {"the system sounds", {{CaptureEndpoint{{systemSounds(40)}}}}, {}},
      {"a session of several processes", {{CaptureEndpoint{{active(std::nullopt)}}}}, {{-1, "", ""}}},
      {"one process on two endpoints", {{CaptureEndpoint{{active(40)}}, CaptureEndpoint{{active(40)}}}},
       {{40, "", "Recorder"}}},
      {"two processes, in session order",
       {{CaptureEndpoint{{active(41), inactive(40)}}, CaptureEndpoint{{active(40)}}}},
       {{41, "com.google.Chrome", "Google Chrome"}, {40, "", "Recorder"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    addApplication(40, std::nullopt, "Recorder");
    addApplication(41, "com.google.Chrome", "Google Chrome");
    EXPECT_EQ(holdersOf(c.listing), c.holders);
  }
}

TEST_F(CaptureSessions, ConsentHoldersJoinTheSessionsOnce) {
  struct Case {
    const char* what;
    CaptureListing listing;
    std::vector<NamedHolder> consent;
    std::vector<Seen> holders;
  };
  const NamedHolder chrome{ConsentHolder{41, "C:#chrome.exe", false}, "com.google.Chrome"};
  const NamedHolder chromeWithoutPid{ConsentHolder{std::nullopt, "C:#chrome.exe", false}, "com.google.Chrome"};
  const std::vector<Case> cases = {
      {"consent alone", {}, {chrome}, {{41, "com.google.Chrome", "Google Chrome"}}},
      {"named by both", {{CaptureEndpoint{{active(41)}}}}, {chrome}, {{41, "com.google.Chrome", "Google Chrome"}}},
      {"after the sessions", {{CaptureEndpoint{{active(40)}}}}, {chrome},
       {{40, "", "Recorder"}, {41, "com.google.Chrome", "Google Chrome"}}},
      {"no process to name", {}, {chromeWithoutPid}, {{-1, "com.google.Chrome", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    addApplication(40, std::nullopt, "Recorder");
    addApplication(41, "com.google.Chrome", "Google Chrome");
    EXPECT_EQ(holdersOf(c.listing, c.consent), c.holders);
  }
}

TEST_F(CaptureSessions, AnInputRunsWhileOneOfItsSessionsIsActive) {
  struct Case {
    const char* what;
    CaptureListing listing;
    bool running;
  };
  const std::vector<Case> cases = {
      {"no endpoint", {}, false},
      {"sessions not listed", {{CaptureEndpoint{}}}, false},
      {"only inactive sessions", {{CaptureEndpoint{{inactive(40), inactive(41)}}}}, false},
      {"one active among inactive", {{CaptureEndpoint{{inactive(40), active(41)}}}}, true},
      {"active on the second endpoint", {{CaptureEndpoint{}, CaptureEndpoint{{active(std::nullopt)}}}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    windows_source::putDevices(c.listing, scene());
    EXPECT_EQ(anyInputRunning(), c.running);
  }
}

TEST_F(CaptureSessions, ANewListingReplacesTheLastOne) {
  windows_source::putProcessObjects({{CaptureEndpoint{{active(40), active(41)}}}}, {}, scene());
  windows_source::putDevices({{CaptureEndpoint{{active(40)}}}}, scene());
  EXPECT_THAT(holdersOf({{CaptureEndpoint{{inactive(40)}}}}), ::testing::IsEmpty());
  windows_source::putDevices({{CaptureEndpoint{{inactive(40)}}}}, scene());
  EXPECT_FALSE(anyInputRunning());
}

}  // namespace
