// The processes that are capturing audio input now.
#pragma once

#include <vector>

#include "holder.h"

// In the platform's order; empty before macOS 14.2, where no process list exists.
std::vector<Holder> micHolders();
