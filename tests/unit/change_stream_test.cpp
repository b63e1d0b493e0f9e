#include "cycle/change_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;

// A world on a clock of its own: the answer changes at the scripted moments,
// each announced by a notice (or by several, or by one that changes nothing),
// a cycle takes a few milliseconds, and the stream ends at a set time.
class ScriptedWorld final : public StreamWorld {
 public:
  struct Notice {
    milliseconds at;
    std::string answer;  // what a cycle finds from then on
  };
  struct Written {
    milliseconds at;
    std::string line;
  };

  ScriptedWorld(std::vector<Notice> notices, milliseconds end) : notices_(std::move(notices)), end_(end) {}

  StreamClock::time_point now() override { return start_ + now_; }
  bool waitForChange(StreamClock::time_point until) override {
    ++waits;
    const milliseconds limit = std::chrono::duration_cast<milliseconds>(until - start_);
    // Notices told of before the wait began count at once.
    for (const Notice& notice : notices_) {
      if (notice.at > seenUpTo_ && notice.at < limit) {
        now_ = std::max(now_, notice.at);
        seenUpTo_ = now_;
        return true;
      }
    }
    now_ = std::max(now_, limit);
    seenUpTo_ = now_;
    return false;
  }
  void sleepUntil(StreamClock::time_point until) override {
    now_ = std::max(now_, std::chrono::duration_cast<milliseconds>(until - start_));
  }
  std::string cycle() override {
    ++cycles;
    cycleStarts.push_back(now_);
    std::string answer = "quiet";
    for (const Notice& notice : notices_)
      if (notice.at <= now_) answer = notice.answer;
    now_ += kCycleCost;
    return answer + "\n";
  }
  bool write(const std::string& line) override {
    written.push_back(Written{now_, line});
    return now_ < end_;
  }

  static constexpr milliseconds kCycleCost{3};
  int waits = 0;
  int cycles = 0;
  std::vector<milliseconds> cycleStarts;
  std::vector<Written> written;

 private:
  std::vector<Notice> notices_;
  milliseconds end_;
  StreamClock::time_point start_ = StreamClock::now();
  milliseconds now_{0};
  milliseconds seenUpTo_{-1};
};

std::vector<milliseconds> timesOf(const std::vector<ScriptedWorld::Written>& written, const std::string& line) {
  std::vector<milliseconds> times;
  for (const auto& w : written)
    if (w.line == line + "\n") times.push_back(w.at);
  return times;
}

// The timer lines: the first at once, each next two seconds after the one
// before it was written (its cycle's end), or at most one gap later when a
// change cycle ran just before; whatever came between. The times they came at.
std::vector<milliseconds> expectTimerLines(const std::vector<ScriptedWorld::Written>& written) {
  std::vector<milliseconds> found;
  milliseconds due = ScriptedWorld::kCycleCost;
  while (due <= written.back().at) {
    const auto line = std::find_if(written.begin(), written.end(), [&](const auto& w) {
      return w.at >= due && w.at <= due + kLeastLineGap;
    });
    if (line == written.end()) {
      ADD_FAILURE() << "no timer line for " << due.count() << " ms";
      break;
    }
    found.push_back(line->at);
    due = line->at + kTimerPeriod + ScriptedWorld::kCycleCost;
  }
  return found;
}

TEST(ChangeStream, IdleWritesTheTimerLinesAndWakesForNothingElse) {
  ScriptedWorld world({}, milliseconds(10000));
  runChangeStream(world);
  std::vector<milliseconds> expected;
  for (int i = 0; i < 6; ++i) expected.push_back(milliseconds(3 + i * 2003));
  EXPECT_EQ(timesOf(world.written, "quiet"), expected);
  EXPECT_EQ(world.written.size(), expected.size());
  EXPECT_EQ(world.cycles, 6);
  EXPECT_EQ(world.waits, 5);
}

TEST(ChangeStream, ChangesBetweenTimerLinesEachGetALineAtOnce) {
  struct Case {
    const char* what;
    std::vector<ScriptedWorld::Notice> notices;
    std::vector<std::pair<milliseconds, std::string>> changeLines;  // besides the timer lines
  };
  const std::vector<Case> cases = {
      {"a recorder starts", {{milliseconds(700), "on"}}, {{milliseconds(703), "on"}}},
      {"a capture of 200 ms between two cycles",
       {{milliseconds(900), "on"}, {milliseconds(1100), "quiet"}},
       {{milliseconds(903), "on"}, {milliseconds(1103), "quiet"}}},
      {"a notice that changes nothing", {{milliseconds(500), "quiet"}}, {}},
      {"two notices 10 ms apart: one cycle after the gap sees both",
       {{milliseconds(700), "on"}, {milliseconds(710), "on, titled"}},
       {{milliseconds(703), "on"}, {milliseconds(753), "on, titled"}}},
      {"a change just before a timer line", {{milliseconds(1990), "on"}}, {{milliseconds(1993), "on"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedWorld world(c.notices, milliseconds(4000));
    runChangeStream(world);
    const std::vector<milliseconds> timerLines = expectTimerLines(world.written);
    for (const auto& [at, line] : c.changeLines) {
      const auto times = timesOf(world.written, line);
      EXPECT_NE(std::find(times.begin(), times.end(), at), times.end()) << line << " at " << at.count() << " ms";
    }
    // Besides the timer lines, only the change lines: none repeats the line before it.
    EXPECT_EQ(world.written.size(), 3 + c.changeLines.size());
    for (std::size_t i = 1; i < world.written.size(); ++i) {
      const bool timerLine = std::find(timerLines.begin(), timerLines.end(), world.written[i].at) != timerLines.end();
      if (!timerLine) {
        EXPECT_NE(world.written[i].line, world.written[i - 1].line) << "at " << world.written[i].at.count();
      }
    }
  }
}

TEST(ChangeStream, ATimerLineComesEvenWhenAChangeLineSaidTheSameJustBefore) {
  ScriptedWorld world({{milliseconds(1990), "on"}}, milliseconds(4000));
  runChangeStream(world);
  const auto on = timesOf(world.written, "on");
  ASSERT_GE(on.size(), 2u) << "the change line and the timer line after it";
  EXPECT_EQ(on[0], milliseconds(1993));
  EXPECT_GE(on[1], milliseconds(2006));
  EXPECT_LE(on[1], milliseconds(2006) + kLeastLineGap);
}

TEST(ChangeStream, AFloodCostsOneLinePerLineGapAndOneCyclePerCycleGap) {
  struct Case {
    const char* what;
    int toggleEvery;  // ms between notices: the answer flips with each, or never when 0
    int mostCycles;
  };
  // Three seconds of notices every 5 ms: a recorder that starts and stops 100
  // times a second, or a stream of notices that change nothing. Besides the
  // flood's cycles: the one that sees its last notice and the four timer cycles.
  const std::vector<Case> cases = {
      {"changing", 5, 3000 / 10 + 1 + 4 + 1},
      {"changing nothing", 0, 3000 / 10 + 1 + 4 + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<ScriptedWorld::Notice> flood;
    for (int ms = 300; ms < 3300; ms += 5)
      flood.push_back({milliseconds(ms), c.toggleEvery != 0 && (ms / c.toggleEvery) % 2 == 0 ? "on" : "quiet"});
    ScriptedWorld world(flood, milliseconds(6100));
    runChangeStream(world);
    for (std::size_t i = 1; i < world.cycleStarts.size(); ++i)
      EXPECT_GE(world.cycleStarts[i] - world.cycleStarts[i - 1], kLeastCycleGap) << "cycle " << i;
    EXPECT_LE(world.cycles, c.mostCycles);
    EXPECT_LE(world.written.size(), 3000u / 50 + 1 + 4) << "a line per line gap at most, and the timer lines";
    for (std::size_t i = 1; i < world.written.size(); ++i)
      EXPECT_GE(world.written[i].at - world.written[i - 1].at, kLeastLineGap) << "line " << i;
    const std::vector<milliseconds> timerLines = expectTimerLines(world.written);
    if (c.toggleEvery == 0) {
      EXPECT_EQ(world.written.size(), timerLines.size()) << "nothing but the timer lines";
    }
  }
}

TEST(ChangeStream, ANoticeThatChangedNothingLeavesTheNextCycleCloser) {
  // A stream is made (nothing to show yet), then linked 5 ms later.
  ScriptedWorld world({{milliseconds(700), "quiet"}, {milliseconds(705), "on"}}, milliseconds(4000));
  runChangeStream(world);
  const auto on = timesOf(world.written, "on");
  ASSERT_FALSE(on.empty());
  EXPECT_EQ(on.front(), milliseconds(700) + kLeastCycleGap + ScriptedWorld::kCycleCost);
}

}  // namespace
