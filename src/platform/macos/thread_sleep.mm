#import <Foundation/Foundation.h>

#include "platform/thread_sleep.h"

void sleepForTimeInterval(double seconds) {
  @autoreleasepool {
    [NSThread sleepForTimeInterval:seconds];
  }
}
