// An executable in a fixture process's root, installed as a package installs
// it, for the rule that a browser's names count only for such a one.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fixture_tree.h"

// The executable in the process's root, installed as a package installs it:
// root's, and writable by no one else, as is every folder above it (a
// replaced executable leaves only its folder).
inline void install(const FixtureTree& tree, pid_t pid, const std::string& exe) {
  namespace fs = std::filesystem;
  const std::string processRoot = "/proc/" + std::to_string(pid) + "/root";
  const std::string deleted = " (deleted)";
  const bool gone = exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0;
  const std::string file = processRoot + (gone ? exe.substr(0, exe.size() - deleted.size()) : exe);
  fs::create_directories(tree.path(file).parent_path());
  if (!gone) tree.write(file, "");
  for (fs::path at = tree.path(file); at != tree.path(processRoot).parent_path(); at = at.parent_path()) {
    if (!fs::exists(at)) continue;
    ASSERT_EQ(::chown(at.c_str(), 0, 0), 0) << "the tests run as root";
    fs::permissions(at, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  }
}
