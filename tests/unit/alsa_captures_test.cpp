#include "platform/linux/sound/alsa_captures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fixture_tree.h"

namespace {

TEST(AlsaCaptures, RunningCaptureSubstreamsOutsideTheSoundServer) {
  FixtureTree tree;
  tree.write("/proc/asound/card0/pcm0c/sub0/status", "state: RUNNING\nowner_pid   : 100\ntrigger_time: 1\n");
  tree.write("/proc/100/comm", "arecord\n");
  tree.write("/proc/asound/card0/pcm0c/sub1/status", "closed\n");
  tree.write("/proc/asound/card0/pcm0p/sub0/status", "state: RUNNING\nowner_pid   : 100\n");  // playback
  tree.write("/proc/asound/card1/pcm0c/sub0/status", "state: RUNNING\nowner_pid   : 200\n");
  tree.write("/proc/200/comm", "pulseaudio\n");
  tree.write("/proc/asound/card1/pcm1c/sub0/status", "state: PREPARED\nowner_pid   : 100\n");
  tree.write("/proc/asound/card2/pcm0c/sub0/status", "state: RUNNING\nowner_pid   : 300\n");  // owner gone
  EXPECT_EQ(linux_source::capturesOutsideSoundServer(tree.root()), 2u);
}

TEST(AlsaCaptures, NoSoundCards) {
  FixtureTree tree;
  EXPECT_EQ(linux_source::capturesOutsideSoundServer(tree.root()), 0u);
}

}  // namespace
