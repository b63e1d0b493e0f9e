// An autorelease pool (Foundation's @autoreleasepool) around a piece of work.
#pragma once

#include <functional>

// Runs work inside a pool of its own: whatever the platform's calls
// autorelease during it is let go when it returns.
void insideAutoreleasePool(const std::function<void()>& work);
