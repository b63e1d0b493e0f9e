#include "cycle/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
  const char* what;
  std::vector<const char*> argv;
  bool once;
};

struct OnChangeCase {
  const char* what;
  std::vector<const char*> argv;
  bool onChange;
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

TEST(CommandLine, OnChangeMatchesOnlyTheWholeTextAndLeavesOnceAlone) {
  const std::vector<OnChangeCase> cases = {
      {"program alone", {"quorbel"}, false, false},
      {"--on-change", {"quorbel", "--on-change"}, true, false},
      {"twice", {"quorbel", "--on-change", "--on-change"}, true, false},
      {"with --once after it", {"quorbel", "--on-change", "--once"}, true, true},
      {"with --once before it", {"quorbel", "--once", "--on-change"}, true, true},
      {"among other arguments", {"quorbel", "-v", "--on-change", "x"}, true, false},
      {"program path itself", {"--on-change"}, true, false},
      {"capitals", {"quorbel", "--ON-CHANGE"}, false, false},
      {"value attached", {"quorbel", "--on-change=1"}, false, false},
      {"trailing blank", {"quorbel", "--on-change "}, false, false},
      {"underscore", {"quorbel", "--on_change"}, false, false},
      {"one hyphen", {"quorbel", "-on-change"}, false, false},
      {"abbreviation", {"quorbel", "--on-ch"}, false, false},
      {"prefix of --once", {"quorbel", "--on"}, false, false},
      {"empty vector", {}, false, false},
  };
  for (const OnChangeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const int argc = static_cast<int>(c.argv.size());
    EXPECT_EQ(onChangeRequested(argc, c.argv.data()), c.onChange);
    EXPECT_EQ(onceRequested(argc, c.argv.data()), c.once);
  }
}

}  // namespace
