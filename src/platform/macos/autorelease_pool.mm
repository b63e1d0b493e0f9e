// The pool is a block of the language, so it wraps the work it is given; the
// same with ARC and without it.
#import <Foundation/Foundation.h>

#include "platform/autorelease_pool.h"

void insideAutoreleasePool(const std::function<void()>& work) {
  @autoreleasepool {
    work();
  }
}
