// The model's answer to the operating system's version test.
#pragma once

namespace model {
bool operatingSystemAtLeast(int major, int minor, int patch);
}
