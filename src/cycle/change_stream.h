// The stream with --on-change: the line every two seconds, as without it,
// and between those a line as soon as the answer differs from the last line
// written. However fast things change, a line is followed by no cycle for
// kLeastLineGap, and a cycle by none for kLeastCycleGap: a burst of notices
// that change nothing costs a cycle per kLeastCycleGap, a flood of changes a
// line per kLeastLineGap.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

using StreamClock = std::chrono::steady_clock;

constexpr auto kTimerPeriod = std::chrono::seconds(2);
constexpr auto kLeastLineGap = std::chrono::milliseconds(50);
constexpr auto kLeastCycleGap = std::chrono::milliseconds(10);

// What the stream needs of the world: the program's is the platform's wait
// and the real cycle; a test's runs on a clock of its own.
class StreamWorld {
 public:
  virtual ~StreamWorld() = default;
  virtual StreamClock::time_point now() = 0;
  // True when a change was told of before until; false at until.
  virtual bool waitForChange(StreamClock::time_point until) = 0;
  virtual void sleepUntil(StreamClock::time_point until) = 0;
  // One cycle's line, line feed included.
  virtual std::string cycle() = 0;
  // False ends the stream.
  virtual bool write(const std::string& line) = 0;
};

// The first line at once; each timer line two seconds after the end of the
// last timer cycle and written whatever it says; a change line only when it
// differs from the last line written. Returns when world.write says so.
void runChangeStream(StreamWorld& world);

// The program's stream: the platform's listeners and wait, lines to out. It
// goes on until the process is ended from outside.
void streamOnChange(std::FILE* out);
