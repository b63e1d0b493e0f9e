// The model is the platform every other test runs against, so its own
// accounting must catch the faults those tests rely on it to catch.
#include <gtest/gtest.h>

#include "model_fixture.h"
#include "platform/accessibility.h"
#include "platform/app_registry.h"
#include "platform/coreaudio.h"

namespace {

class Model : public ModelTest {};

CFStringRef copyBundleReference(AudioObjectID process) {
  const AudioObjectPropertyAddress address{kAudioProcessPropertyBundleID, kAudioObjectPropertyScopeGlobal, 0};
  CFStringRef reference = nullptr;
  UInt32 size = sizeof reference;
  EXPECT_EQ(AudioObjectGetPropertyData(process, &address, 0, nullptr, &size, &reference), noErr);
  return reference;
}

TEST_F(Model, CountsACopiedReferenceUntilItIsReleased) {
  addProcess(7, true, 70, "org.example.app");
  CFStringRef reference = copyBundleReference(7);
  ASSERT_NE(reference, nullptr);
  EXPECT_EQ(model::heldReferences(), 1u);
  CFRelease(reference);
  EXPECT_EQ(model::heldReferences(), 0u);
}

TEST_F(Model, EachQueryCopiesANewReference) {
  addProcess(7, true, 70, "org.example.app");
  CFStringRef first = copyBundleReference(7);
  CFStringRef second = copyBundleReference(7);
  EXPECT_NE(first, second);
  EXPECT_EQ(model::heldReferences(), 2u);
  CFRelease(first);
  CFRelease(second);
}

TEST_F(Model, CountsASecondRelease) {
  addProcess(7, true, 70, "org.example.app");
  CFStringRef reference = copyBundleReference(7);
  CFRelease(reference);
  CFRelease(reference);
  EXPECT_EQ(model::badReleases(), 1u);
  model::reset();
}

TEST_F(Model, CountsTheReleaseOfABorrowedArrayMember) {
  scene().trusted = true;
  windowsOf(5, {"one"});
  AXUIElementRef application = AXUIElementCreateApplication(5);
  CFTypeRef windows = nullptr;
  ASSERT_EQ(AXUIElementCopyAttributeValue(application, kAXWindowsAttribute, &windows), kAXErrorSuccess);
  ASSERT_EQ(CFGetTypeID(windows), CFArrayGetTypeID());
  EXPECT_EQ(model::heldReferences(), 2u) << "the element and the list; the window is borrowed";
  CFRelease(CFArrayGetValueAtIndex(static_cast<CFArrayRef>(windows), 0));
  EXPECT_EQ(model::badReleases(), 1u);
  CFRelease(windows);
  CFRelease(application);
  model::reset();
}

TEST_F(Model, ReleasingTheListLetsItsWindowsGo) {
  windowsOf(5, {"one", "two"});
  AXUIElementRef application = AXUIElementCreateApplication(5);
  CFTypeRef windows = nullptr;
  ASSERT_EQ(AXUIElementCopyAttributeValue(application, kAXWindowsAttribute, &windows), kAXErrorSuccess);
  const void* window = CFArrayGetValueAtIndex(static_cast<CFArrayRef>(windows), 1);
  CFRelease(windows);
  CFRelease(application);
  CFTypeRef title = nullptr;
  EXPECT_NE(AXUIElementCopyAttributeValue(static_cast<AXUIElementRef>(window), kAXTitleAttribute, &title),
            kAXErrorSuccess);
  EXPECT_EQ(model::misuses().size(), 1u) << "a window read after its list was released";
  model::reset();
}

TEST_F(Model, NeverWritesPastTheCapacity) {
  setGlobal(1, kAudioHardwarePropertyDevices, model::idList({21, 22, 23}));
  const AudioObjectPropertyAddress address{kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal, 0};
  AudioObjectID ids[3] = {0, 0, 0};
  UInt32 size = 8;
  ASSERT_EQ(AudioObjectGetPropertyData(1, &address, 0, nullptr, &size, ids), noErr);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(ids[0], 21u);
  EXPECT_EQ(ids[1], 22u);
  EXPECT_EQ(ids[2], 0u);
}

TEST_F(Model, NotesArgumentsThePlatformWouldRefuse) {
  setGlobal(1, kAudioHardwarePropertyDevices, model::idList({21}));
  const AudioObjectPropertyAddress elementOne{kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal, 1};
  UInt32 size = 0;
  AudioObjectGetPropertyDataSize(1, &elementOne, 0, nullptr, &size);
  const AudioObjectPropertyAddress main{kAudioHardwarePropertyDevices, kAudioObjectPropertyScopeGlobal, 0};
  const UInt32 qualifier = 3;
  AudioObjectGetPropertyDataSize(1, &main, sizeof qualifier, &qualifier, &size);
  EXPECT_EQ(model::misuses().size(), 2u);
  model::reset();
}

TEST_F(Model, AnApplicationHandleReleasesItsReference) {
  addApplication(9, "org.example.nine", std::nullopt);
  {
    auto application = runningApplicationWithProcessIdentifier(9);
    ASSERT_TRUE(application);
    EXPECT_EQ(model::heldReferences(), 1u);
    EXPECT_EQ(application->bundleIdentifier(), "org.example.nine");
    EXPECT_EQ(application->localizedName(), "") << "a null name comes back empty";
  }
  EXPECT_EQ(model::heldReferences(), 0u);
  EXPECT_FALSE(runningApplicationWithProcessIdentifier(10));
}

}  // namespace
