// Window titles of a browser's running applications, through Accessibility.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The non-empty titles of the first 12 windows of each of the first 2
// applications whose identifier is forBundle or starts with its family (a
// "helper" excepted); empty while the process is not trusted.
std::vector<std::string> titles(std::string_view forBundle);
