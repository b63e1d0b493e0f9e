#include "report/snapshot_line.h"

#include <gtest/gtest.h>

#include <limits>

#include "strict_json.h"

namespace {

TEST(SnapshotLine, ExampleWithBrowserAndPlainHolder) {
  const std::string browser = holderObject({4312, "com.google.Chrome", "Sample Browser"},
                                           {"Weekly sync", "Plan \"Q3\" review"});
  const std::string recorder = holderObject({918, "", "voice-recorder"}, {});
  EXPECT_EQ(snapshotLine(true, {browser, recorder}, true),
            R"({"micInUse":true,"holders":[{"pid":4312,"bundle":"com.google.Chrome","name":"Sample Browser",)"
            R"("titles":["Weekly sync","Plan 'Q3' review"]},{"pid":918,"bundle":"","name":"voice-recorder",)"
            R"("titles":[]}],"ax":true})");
}

TEST(SnapshotLine, WithoutHolders) {
  EXPECT_EQ(snapshotLine(false, {}, false), R"({"micInUse":false,"holders":[],"ax":false})");
  EXPECT_EQ(snapshotLine(true, {}, true), R"({"micInUse":true,"holders":[],"ax":true})");
}

TEST(HolderObject, UnknownProcess) {
  EXPECT_EQ(holderObject({-1, "", ""}, {}), R"({"pid":-1,"bundle":"","name":"","titles":[]})");
}

TEST(HolderObject, BackslashesAndLineFeedInTitles) {
  EXPECT_EQ(holderObject({77, "com.apple.Safari", "Sample"}, {"Shared\\Plans\\Q3", "line one\nline two"}),
            R"({"pid":77,"bundle":"com.apple.Safari","name":"Sample","titles":["Shared\\Plans\\Q3","line one line two"]})");
}

TEST(HolderObject, PidExtremesAndZero) {
  EXPECT_EQ(holderObject({0, "", ""}, {}), R"({"pid":0,"bundle":"","name":"","titles":[]})");
  EXPECT_EQ(holderObject({std::numeric_limits<std::int32_t>::min(), "", ""}, {}),
            R"({"pid":-2147483648,"bundle":"","name":"","titles":[]})");
  EXPECT_EQ(holderObject({std::numeric_limits<std::int32_t>::max(), "", ""}, {}),
            R"({"pid":2147483647,"bundle":"","name":"","titles":[]})");
}

TEST(HolderObject, EmptyTitleIsAnEmptyString) {
  EXPECT_EQ(holderObject({5, "b", "n"}, {"", "x"}), R"({"pid":5,"bundle":"b","name":"n","titles":["","x"]})");
}

TEST(HolderObject, EveryTextFieldIsSanitized) {
  const std::string object = holderObject({1, "a\"b", "tab\there\\"}, {"q\"\r"});
  EXPECT_EQ(object, R"({"pid":1,"bundle":"a'b","name":"tab\there\\","titles":["q'\r"]})");
}

TEST(SnapshotLine, EqualHoldersStayTwo) {
  const std::string one = holderObject({3, "x", "y"}, {});
  const std::string line = snapshotLine(true, {one, one}, false);
  const auto value = json::parse(line);
  ASSERT_TRUE(value);
  ASSERT_EQ(value->member("holders")->items.size(), 2u);
}

TEST(SnapshotLine, ParsesWithMembersInOrder) {
  const std::string line =
      snapshotLine(true, {holderObject({42, "com.brave.Browser", "Brave \xE2\x80\x94 \x01"}, {"t\x7f\x1f"})}, false);
  std::string error;
  const auto value = json::parse(line, &error);
  ASSERT_TRUE(value) << error;
  ASSERT_EQ(value->members.size(), 3u);
  EXPECT_EQ(value->members[0].first, "micInUse");
  EXPECT_EQ(value->members[1].first, "holders");
  EXPECT_EQ(value->members[2].first, "ax");
  const json::Value& holder = value->member("holders")->items.at(0);
  ASSERT_EQ(holder.members.size(), 4u);
  EXPECT_EQ(holder.members[0].first, "pid");
  EXPECT_EQ(holder.members[1].first, "bundle");
  EXPECT_EQ(holder.members[2].first, "name");
  EXPECT_EQ(holder.members[3].first, "titles");
  EXPECT_EQ(holder.member("name")->text, "Brave \xE2\x80\x94 \x01");
  EXPECT_EQ(holder.member("titles")->items.at(0).text, "t\x7f\x1f");
}

}  // namespace
