#include "platform/windows/sound/session_reader.h"

#include <windows.h>
#include <audioclient.h>
#include <audiopolicy.h>
#include <mmdeviceapi.h>

#include "platform/windows/com_reference.h"

namespace windows_source {
namespace {

// Bounds against a misbehaving audio service: more than any machine has.
constexpr UINT kMostEndpoints = 64;
constexpr int kMostSessions = 512;

AudioSession sessionOf(IAudioSessionControl* control) {
  AudioSession session;
  AudioSessionState state = AudioSessionStateInactive;
  session.active = SUCCEEDED(control->GetState(&state)) && state == AudioSessionStateActive;
  ComReference<IAudioSessionControl2> extended;
  if (FAILED(control->QueryInterface(__uuidof(IAudioSessionControl2), extended.putVoid()))) return session;
  session.systemSounds = extended->IsSystemSoundsSession() == S_OK;
  DWORD pid = 0;
  // AUDCLNT_S_NO_SINGLE_PROCESS succeeds too, with no one process to name.
  if (extended->GetProcessId(&pid) == S_OK) session.process = pid;
  return session;
}

CaptureEndpoint endpointOf(IMMDevice* device) {
  CaptureEndpoint endpoint;
  ComReference<IAudioSessionManager2> manager;
  if (FAILED(device->Activate(__uuidof(IAudioSessionManager2), CLSCTX_ALL, nullptr, manager.putVoid()))) return endpoint;
  ComReference<IAudioSessionEnumerator> sessions;
  if (FAILED(manager->GetSessionEnumerator(sessions.put()))) return endpoint;
  int count = 0;
  if (FAILED(sessions->GetCount(&count))) return endpoint;
  for (int i = 0; i < count && i < kMostSessions; ++i) {
    ComReference<IAudioSessionControl> control;
    if (SUCCEEDED(sessions->GetSession(i, control.put())) && control) endpoint.sessions.push_back(sessionOf(control.operator->()));
  }
  return endpoint;
}

CaptureListing listingOfThisThread() {
  CaptureListing listing;
  ComReference<IMMDeviceEnumerator> enumerator;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                              enumerator.putVoid())))
    return listing;
  ComReference<IMMDeviceCollection> devices;
  if (FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, devices.put()))) return listing;
  UINT count = 0;
  if (FAILED(devices->GetCount(&count))) return listing;
  for (UINT i = 0; i < count && i < kMostEndpoints; ++i) {
    ComReference<IMMDevice> device;
    if (SUCCEEDED(devices->Item(i, device.put())) && device) listing.endpoints.push_back(endpointOf(device.operator->()));
  }
  return listing;
}

}  // namespace

CaptureListing readCaptureSessions() {
  // Each read runs on a thread of its own (see bounded_read.h), which joins
  // COM's multithreaded apartment for the read and leaves it after, every
  // interface released by then.
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CaptureListing listing = listingOfThisThread();
  if (SUCCEEDED(joined)) CoUninitialize();
  return listing;
}

}  // namespace windows_source
