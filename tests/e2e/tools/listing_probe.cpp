// The monitor's own sound server connection, driven line by line from
// standard input, for tests of what it tells the wait between two cycles:
//   "list"     asks for the listing, as a cycle's question does, and writes
//              the listing's generation (or "none");
//   "notices"  takes in the server's notices, as the wait does, and writes
//              1 when the wait would return at once, else 0.
#include <cstdio>
#include <iostream>
#include <string>

#include "platform/linux/sound/pulse_connection.h"

int main() {
  linux_source::PulseConnection connection;
  std::string command;
  while (std::getline(std::cin, command)) {
    if (command == "list") {
      if (connection.listing() != nullptr) std::printf("%llu\n", static_cast<unsigned long long>(connection.generation()));
      else std::printf("none\n");
    } else if (command == "notices") {
      std::printf("%d\n", connection.takeNotices() ? 1 : 0);
    } else {
      std::printf("unknown command\n");
    }
    std::fflush(stdout);
  }
  return 0;
}
