// A test over the platform model: a fresh scene per test, and after every
// test the model's accounting must show nothing held, nothing released twice
// and no argument the platform would refuse.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/model/model.h"
#include "platform/model/scene.h"

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override { model::reset(); }
  void TearDown() override {
    EXPECT_EQ(model::heldReferences(), 0u) << "references still held";
    EXPECT_EQ(model::badReleases(), 0u) << "references released twice";
    EXPECT_THAT(model::misuses(), ::testing::IsEmpty());
  }

  static model::Scene& scene() { return model::scene(); }

  static void setProperty(AudioObjectID object, AudioObjectPropertySelector selector, AudioObjectPropertyScope scope,
                          model::PropertyAnswer answer) {
    model::setProperty(scene(), object, selector, scope, std::move(answer));
  }
  static void setGlobal(AudioObjectID object, AudioObjectPropertySelector selector, model::PropertyAnswer answer) {
    model::setGlobal(scene(), object, selector, std::move(answer));
  }

  // Process objects.
  static void setProcessList(const std::vector<AudioObjectID>& ids) {
    setGlobal(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, model::idList(ids));
  }
  static void addProcess(AudioObjectID id, bool capturing, SInt32 pid, std::optional<std::string> bundle) {
    setGlobal(id, kAudioProcessPropertyIsRunningInput, model::uint32Value(capturing ? 1 : 0));
    setGlobal(id, kAudioProcessPropertyPID, model::int32Value(pid));
    setGlobal(id, kAudioProcessPropertyBundleID,
              bundle ? model::stringReference(*bundle) : model::nullReference());
  }

  // Applications: in the registry by pid, and in the workspace list unless told otherwise.
  static void addApplication(pid_t pid, std::optional<std::string> bundle, std::optional<std::string> name,
                             bool inWorkspace = true) {
    model::Application application{pid, std::move(bundle), std::move(name)};
    scene().registry[pid] = application;
    if (inWorkspace) scene().workspace.push_back(application);
  }

  // Devices.
  static void setDeviceList(const std::vector<AudioObjectID>& ids) {
    setGlobal(kAudioObjectSystemObject, kAudioHardwarePropertyDevices, model::idList(ids));
  }
  static void addDevice(AudioObjectID id, const std::vector<UInt32>& inputChannels, bool running) {
    setProperty(id, kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeInput,
                model::bufferList(inputChannels));
    setGlobal(id, kAudioDevicePropertyDeviceIsRunningSomewhere, model::uint32Value(running ? 1 : 0));
  }

  // Windows of the application element for pid.
  static model::ApplicationElement& windowsOf(pid_t pid, const std::vector<std::string>& windowTitles = {}) {
    model::ApplicationElement& element = scene().elements[pid];
    for (const std::string& title : windowTitles) element.windows.push_back(model::Window{kAXErrorSuccess, model::ValueKind::expected, title});
    return element;
  }

  // The record, or the part of it whose entries start with prefix.
  static std::vector<std::string> callsStartingWith(const std::string& prefix) {
    std::vector<std::string> selected;
    for (const std::string& call : model::calls())
      if (call.rfind(prefix, 0) == 0) selected.push_back(call);
    return selected;
  }
};

// The record's text for each HAL query.
inline std::string sizeQuery(AudioObjectID object, AudioObjectPropertySelector selector,
                             AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) {
  return "AudioObjectGetPropertyDataSize(" + std::to_string(object) + ", " + model::fourCharCode(selector) + ", " +
         model::fourCharCode(scope) + ")";
}
inline std::string dataQuery(AudioObjectID object, AudioObjectPropertySelector selector, UInt32 capacity,
                             AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) {
  return "AudioObjectGetPropertyData(" + std::to_string(object) + ", " + model::fourCharCode(selector) + ", " +
         model::fourCharCode(scope) + ", " + std::to_string(capacity) + ")";
}
