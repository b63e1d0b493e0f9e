#include "platform/thread_sleep.h"

#include <chrono>
#include <thread>

void sleepForTimeInterval(double seconds) {
  // sleep_for resumes after a signal interrupts it, as NSThread does.
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}
