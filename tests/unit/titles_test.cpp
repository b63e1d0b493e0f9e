#include "windows/titles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "model_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Titles : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    scene().trusted = true;
  }
  // The pids whose windows were asked for, in order.
  static std::vector<std::string> windowQueries() { return callsStartingWith("AXUIElementCreateApplication"); }
  static std::string created(pid_t pid) { return "AXUIElementCreateApplication(" + std::to_string(pid) + ")"; }
};

TEST_F(Titles, NotTrustedListsNothing) {
  scene().trusted = false;
  addApplication(1, "com.google.Chrome", "Chrome");
  windowsOf(1, {"Call"});
  EXPECT_THAT(titles("com.google.Chrome"), IsEmpty());
  EXPECT_THAT(model::calls(), ElementsAre("AXIsProcessTrusted"));
}

TEST_F(Titles, TrustIsCheckedFirstOnEveryCall) {
  addApplication(1, "com.google.Chrome", "Chrome");
  windowsOf(1, {"Call"});
  EXPECT_THAT(titles("com.google.Chrome"), ElementsAre("Call"));
  EXPECT_THAT(titles("com.google.Chrome"), ElementsAre("Call"));
  EXPECT_THAT(callsStartingWith("AXIsProcessTrusted"), ElementsAre("AXIsProcessTrusted", "AXIsProcessTrusted"));
  EXPECT_EQ(model::calls().front(), "AXIsProcessTrusted");
}

TEST_F(Titles, CandidateSelection) {
  struct Case {
    const char* what;
    const char* argument;
    std::optional<std::string> identifier;
    bool selected;
  };
  const std::vector<Case> cases = {
      {"exact match", "com.google.Chrome", "com.google.Chrome", true},
      {"exact match that contains helper", "com.google.Chrome.helper", "com.google.Chrome.helper", true},
      {"family match", "com.google.Chrome.beta", "com.google.Chrome", true},
      {"family match continued", "com.google.Chrome", "com.google.Chrome.canary", true},
      {"no dot boundary", "com.google.Chrome", "com.google.ChromeBeta", true},
      {"helper at the end", "com.google.Chrome", "com.google.Chrome.helper", false},
      {"helper in the middle", "com.google.Chrome", "com.google.Chrome.helper.Renderer", false},
      {"helper without a dot", "com.google.Chrome", "com.google.Chromehelperx", false},
      {"capital Helper is kept", "com.google.Chrome", "com.google.Chrome.Helper", true},
      {"other case", "com.google.Chrome", "com.google.chrome", false},
      {"shorter than the family", "com.google.Chrome", "com.google", false},
      {"different family", "com.google.Chrome", "com.brave.Browser", false},
      {"no identifier", "com.google.Chrome", std::nullopt, false},
      {"empty argument selects no identifier", "", std::nullopt, true},
      {"empty argument selects anything without helper", "", "org.example.app", true},
      {"empty argument drops helper", "", "org.example.helper", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    scene().trusted = true;
    addApplication(1, c.identifier, "App");
    windowsOf(1, {"Window"});
    const auto found = titles(c.argument);
    if (c.selected) {
      EXPECT_THAT(found, ElementsAre("Window"));
    } else {
      EXPECT_THAT(found, IsEmpty());
      EXPECT_THAT(windowQueries(), IsEmpty());
    }
  }
}

TEST_F(Titles, OnlyTheFirstTwoCandidatesAreRead) {
  addApplication(1, "com.google.Chrome", "A");
  addApplication(2, "org.example.other", "B");
  addApplication(3, "com.google.Chrome.canary", "C");
  addApplication(4, "com.google.Chrome", "D");
  windowsOf(1);  // no windows at all
  windowsOf(3).windowsStatus = kAXErrorCannotComplete;
  windowsOf(4, {"never"});
  EXPECT_THAT(titles("com.google.Chrome"), IsEmpty());
  EXPECT_THAT(windowQueries(), ElementsAre(created(1), created(3)));
  EXPECT_THAT(callsStartingWith("bundleIdentifier"),
              ElementsAre("bundleIdentifier(1)", "bundleIdentifier(2)", "bundleIdentifier(3)", "bundleIdentifier(4)"))
      << "the whole list is walked before any window is asked for";
  EXPECT_THAT(callsStartingWith("runningApplications"), ElementsAre("runningApplications"));
}

TEST_F(Titles, ExactMatchHasNoPriority) {
  addApplication(1, "com.google.Chrome.beta", "Beta");
  addApplication(2, "com.google.Chrome.dev", "Dev");
  addApplication(3, "com.google.Chrome.canary", "Canary");
  windowsOf(1, {"beta"});
  windowsOf(2, {"dev"});
  windowsOf(3, {"canary"});
  EXPECT_THAT(titles("com.google.Chrome.canary"), ElementsAre("beta", "dev"));
}

TEST_F(Titles, FirstCandidateFailingStillLetsTheSecondThrough) {
  struct Case {
    const char* what;
    AXError status;
    model::ValueKind kind;
  };
  const std::vector<Case> cases = {
      {"status", kAXErrorCannotComplete, model::ValueKind::expected},
      {"null list", kAXErrorSuccess, model::ValueKind::null},
      {"not a list", kAXErrorSuccess, model::ValueKind::otherType},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model::reset();
    scene().trusted = true;
    addApplication(1, "org.mozilla.firefox", "Firefox");
    addApplication(2, "org.mozilla.firefox", "Firefox");
    model::ApplicationElement& first = windowsOf(1, {"hidden"});
    first.windowsStatus = c.status;
    first.windowsKind = c.kind;
    windowsOf(2, {"Meeting", "Mail"});
    EXPECT_THAT(titles("org.mozilla.firefox"), ElementsAre("Meeting", "Mail"));
  }
}

TEST_F(Titles, FirstTwelveWindowsOnly) {
  std::vector<std::string> thirteen;
  for (int i = 1; i <= 13; ++i) thirteen.push_back("w" + std::to_string(i));
  addApplication(1, "com.apple.Safari", "Safari");
  windowsOf(1, thirteen);
  const auto found = titles("com.apple.Safari");
  EXPECT_EQ(found, std::vector<std::string>(thirteen.begin(), thirteen.begin() + 12));
  EXPECT_EQ(callsStartingWith("AXUIElementCopyAttributeValue(window").size(), 12u);
}

TEST_F(Titles, UnusableTitlesAreSkipped) {
  addApplication(1, "com.apple.Safari", "Safari");
  model::ApplicationElement& element = windowsOf(1);
  element.windows = {
      {kAXErrorSuccess, model::ValueKind::expected, "first"},
      {kAXErrorSuccess, model::ValueKind::expected, ""},
      {kAXErrorSuccess, model::ValueKind::otherType, "not text"},
      {kAXErrorSuccess, model::ValueKind::null, "null"},
      {kAXErrorNoValue, model::ValueKind::expected, "unreadable"},
      {kAXErrorSuccess, model::ValueKind::expected, "last"},
  };
  EXPECT_THAT(titles("com.apple.Safari"), ElementsAre("first", "last"));
  EXPECT_EQ(callsStartingWith("AXUIElementCopyAttributeValue(window").size(), 6u);
}

TEST_F(Titles, DuplicatesKeptInWindowOrderAndTextAsItStands) {
  addApplication(1, "com.vivaldi.Vivaldi", "Vivaldi");
  addApplication(2, "com.vivaldi.Vivaldi.beta", "Vivaldi Beta");
  windowsOf(1, {"Same", "  padded \"raw\"\t", "Same"});
  windowsOf(2, {"Same", "Звонок 🎙"});
  EXPECT_THAT(titles("com.vivaldi.Vivaldi"),
              ElementsAre("Same", "  padded \"raw\"\t", "Same", "Same", "Звонок 🎙"));
}

}  // namespace
