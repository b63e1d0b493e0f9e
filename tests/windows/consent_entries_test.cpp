#include "platform/windows/sound/consent_entries.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using windows_source::CandidateProcess;
using windows_source::ConsentEntry;
using windows_source::ProcessId;

constexpr const char* kChromeKey = "C:#Program Files#Google#Chrome#Application#chrome.exe";
constexpr const char* kChromePath = "C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe";

struct Named {
  std::optional<ProcessId> pid;
  std::string key;
  bool packaged = false;
  bool operator==(const Named&) const = default;
};

void PrintTo(const Named& named, std::ostream* out) {
  *out << (named.pid ? std::to_string(*named.pid) : std::string("no pid")) << " " << named.key
       << (named.packaged ? " (package)" : "");
}

std::vector<Named> holders(const std::vector<ConsentEntry>& entries, const std::vector<CandidateProcess>& running,
                           const std::vector<ProcessId>& sessionHolders = {}) {
  std::vector<Named> named;
  for (const auto& holder : windows_source::consentHolders(entries, running, sessionHolders))
    named.push_back(Named{holder.pid, holder.entryKey, holder.packaged});
  return named;
}

TEST(ConsentEntries, OnlyEntriesInUseWhoseProgramRunsNameAHolder) {
  const ConsentEntry inUse{kChromeKey, false, true};
  const ConsentEntry notInUse{kChromeKey, false, false};
  const ConsentEntry recorder{"Microsoft.WindowsSoundRecorder_8wekyb3d8bbwe", true, true};
  const CandidateProcess chrome{12, 4, kChromePath, ""};
  const CandidateProcess chromeChild{13, 12, kChromePath, ""};
  const CandidateProcess otherChrome{14, 4, "D:\\portable\\chrome.exe", ""};
  const CandidateProcess packaged{20, 4, "C:\\Program Files\\WindowsApps\\Recorder\\rec.exe",
                                  "Microsoft.WindowsSoundRecorder_8wekyb3d8bbwe"};
  struct Case {
    const char* what;
    std::vector<ConsentEntry> entries;
    std::vector<CandidateProcess> running;
    std::vector<ProcessId> sessionHolders;
    std::vector<Named> holders;
  };
  const std::vector<Case> cases = {
      {"stale: its executable does not run", {inUse}, {otherChrome}, {}, {}},
      {"not in use", {notInUse}, {chrome}, {}, {}},
      {"one process", {inUse}, {chrome, otherChrome}, {}, {{12, kChromeKey}}},
      {"the path in another case", {ConsentEntry{"c:#PROGRAM FILES#google#chrome#application#CHROME.EXE", false, true}},
       {chrome}, {}, {{12, "c:#PROGRAM FILES#google#chrome#application#CHROME.EXE"}}},
      {"several: the one holding a session", {inUse}, {chrome, chromeChild}, {13}, {{13, kChromeKey}}},
      {"several: the one the others descend from", {inUse}, {chromeChild, chrome}, {}, {{12, kChromeKey}}},
      {"several trees: no pid", {inUse}, {chrome, CandidateProcess{15, 9, kChromePath, ""}}, {},
       {{std::nullopt, kChromeKey}}},
      {"a package by its family", {recorder}, {packaged, chrome}, {},
       {{20, "Microsoft.WindowsSoundRecorder_8wekyb3d8bbwe", true}}},
      {"a package that does not run", {recorder}, {chrome}, {}, {}},
      {"an executable path never matches a package", {ConsentEntry{kChromeKey, true, true}}, {chrome}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(holders(c.entries, c.running, c.sessionHolders), c.holders);
  }
}

TEST(ConsentEntries, InUseWhileStartedAndNotStopped) {
  struct Case {
    std::optional<std::uint64_t> start;
    std::optional<std::uint64_t> stop;
    bool inUse;
  };
  const std::vector<Case> cases = {
      {133500000000000000u, 0u, true},
      {133500000000000000u, 133500000100000000u, false},
      {133500000000000000u, std::nullopt, false},
      {std::nullopt, 0u, false},
      {0u, 0u, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start.value_or(99) << " " << c.stop.value_or(99));
    EXPECT_EQ(windows_source::inUseFromTimes(c.start, c.stop), c.inUse);
  }
}

TEST(ConsentEntries, KeysAndPaths) {
  EXPECT_EQ(windows_source::executablePathOfKey(kChromeKey), kChromePath);
  EXPECT_EQ(windows_source::fileNameOf(kChromePath), "chrome.exe");
  EXPECT_EQ(windows_source::fileNameOf("chrome.exe"), "chrome.exe");
  EXPECT_TRUE(windows_source::sameName("Chrome.EXE", "chrome.exe"));
  EXPECT_FALSE(windows_source::sameName("chrome.exe", "chrome.ex"));
  EXPECT_FALSE(windows_source::sameName("chrome.exe", "chrome.exf"));
}

}  // namespace
