#include "platform/windows/bounded_read.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Listing = std::vector<int>;

std::mutex gateMutex;
std::condition_variable gateOpened;
std::condition_variable readStarted;
bool gateOpen = false;
int readsStarted = 0;

Listing readBehindTheGate() {
  std::unique_lock<std::mutex> lock(gateMutex);
  ++readsStarted;
  readStarted.notify_all();
  gateOpened.wait(lock, [] { return gateOpen; });
  return {7};
}

Listing readAtOnce() { return {1, 2}; }

TEST(BoundedRead, AnAnswerWithinTheBound) {
  windows_source::BoundedRead<Listing> read(readAtOnce);
  EXPECT_THAT(read(10s), ::testing::ElementsAre(1, 2));
  EXPECT_THAT(read(10s), ::testing::ElementsAre(1, 2));
}

TEST(BoundedRead, AReadThatHangsIsLeftAloneUntilItEnds) {
  windows_source::BoundedRead<Listing> read(readBehindTheGate);
  EXPECT_THAT(read(20ms), ::testing::IsEmpty());
  {
    // On a loaded machine the read's thread may start well after its bound.
    std::unique_lock<std::mutex> lock(gateMutex);
    ASSERT_TRUE(readStarted.wait_for(lock, 30s, [] { return readsStarted == 1; }));
  }
  EXPECT_THAT(read(20ms), ::testing::IsEmpty());
  {
    std::lock_guard<std::mutex> lock(gateMutex);
    EXPECT_EQ(readsStarted, 1) << "a second read started while the first was out";
    gateOpen = true;
  }
  gateOpened.notify_all();
  // Once the hung read has ended, the next one starts and answers.
  Listing answer;
  for (int attempt = 0; attempt < 500 && answer.empty(); ++attempt) {
    answer = read(10s);
    if (answer.empty()) std::this_thread::sleep_for(10ms);
  }
  EXPECT_THAT(answer, ::testing::ElementsAre(7));
  std::lock_guard<std::mutex> lock(gateMutex);
  EXPECT_EQ(readsStarted, 2);
}

}  // namespace
