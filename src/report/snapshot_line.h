// The text of the one line a poll cycle writes.
#pragma once

#include <string>
#include <vector>

#include "holder.h"

// {"pid":N,"bundle":"...","name":"...","titles":[...]}
std::string holderObject(const Holder& holder, const std::vector<std::string>& titles);

// {"micInUse":B,"holders":[...],"ax":B}, without the line feed.
std::string snapshotLine(bool micInUse, const std::vector<std::string>& holderObjects, bool ax);
