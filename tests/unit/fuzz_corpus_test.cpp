// Every input in the fuzz corpus, crashes it once found included, is a
// scenario the ordinary build must also get right.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cycle_check.h"
#include "platform/model/model.h"
#include "scene_from_bytes.h"

namespace {

TEST(FuzzCorpus, EveryInputPassesTheCycleCheck) {
  std::size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QUORBEL_FUZZ_CORPUS)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_EQ(checkOneCycle(sceneFromBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())), "");
    ++inputs;
  }
  EXPECT_GT(inputs, 0u) << "the corpus is missing";
  model::reset();
}

// The check itself must catch what it is there to catch.
TEST(FuzzCorpus, TheOracleSeesHoldersAndRunningDevices) {
  model::Scene scene;
  model::setGlobal(scene, 1, kAudioHardwarePropertyProcessObjectList, model::idList({3, 4}));
  model::setGlobal(scene, 3, kAudioProcessPropertyIsRunningInput, model::uint32Value(1));
  model::setGlobal(scene, 4, kAudioProcessPropertyIsRunningInput, model::uint32Value(0));
  model::setGlobal(scene, 1, kAudioHardwarePropertyDevices, model::idList({5}));
  model::setProperty(scene, 5, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
                     model::bufferList({0, 1}));
  model::setGlobal(scene, 5, kAudioDevicePropertyDeviceIsRunningSomewhere, model::uint32Value(1));
  EXPECT_EQ(expectedHolderCount(scene), 1u);
  EXPECT_TRUE(expectedInputRunning(scene));
  EXPECT_EQ(checkOneCycle(scene), "");
  scene.version = {14, 1, 0};
  EXPECT_EQ(expectedHolderCount(scene), 0u);
  model::reset();
}

}  // namespace
