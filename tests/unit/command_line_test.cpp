#include "cycle/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
  const char* what;
  std::vector<const char*> argv;
  bool once;
};

TEST(CommandLine, OnceMatchesOnlyTheWholeText) {
  const std::vector<Case> cases = {
      {"program alone", {"quorbel"}, false},
      {"--once", {"quorbel", "--once"}, true},
      {"twice", {"quorbel", "--once", "--once"}, true},
      {"among other arguments", {"quorbel", "-v", "x", "--once", "--help"}, true},
      {"program path itself", {"--once"}, true},
      {"capitals", {"quorbel", "--ONCE"}, false},
      {"value attached", {"quorbel", "--once=1"}, false},
      {"trailing blank", {"quorbel", "--once "}, false},
      {"leading blank", {"quorbel", " --once"}, false},
      {"one hyphen", {"quorbel", "-once"}, false},
      {"no hyphen", {"quorbel", "once"}, false},
      {"abbreviation", {"quorbel", "--on"}, false},
      {"empty argument", {"quorbel", ""}, false},
      {"empty vector", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(onceRequested(static_cast<int>(c.argv.size()), c.argv.data()), c.once);
  }
}

}  // namespace
