// Records from the default capture endpoint through WASAPI in shared mode,
// the way every capture API ends up in an audio session, until its standard
// input closes. Prints its pid once the stream runs; exits with 2 when the
// machine has no capture endpoint.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <cstdio>

namespace {

template <typename Interface>
struct Released {
  Interface* pointer = nullptr;
  ~Released() {
    if (pointer != nullptr) pointer->Release();
  }
};

}  // namespace

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  Released<IMMDeviceEnumerator> enumerator;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                              reinterpret_cast<void**>(&enumerator.pointer))))
    return 1;
  Released<IMMDevice> device;
  if (FAILED(enumerator.pointer->GetDefaultAudioEndpoint(eCapture, eConsole, &device.pointer))) return 2;
  Released<IAudioClient> client;
  if (FAILED(device.pointer->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                      reinterpret_cast<void**>(&client.pointer))))
    return 1;
  WAVEFORMATEX* format = nullptr;
  if (FAILED(client.pointer->GetMixFormat(&format))) return 1;
  const HRESULT initialized = client.pointer->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 10000000, 0, format, nullptr);
  CoTaskMemFree(format);
  if (FAILED(initialized) || FAILED(client.pointer->Start())) return 1;

  std::printf("%lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
  std::fflush(stdout);
  char ignored[64];
  while (std::fread(ignored, 1, sizeof ignored, stdin) > 0) {
  }
  client.pointer->Stop();
  return 0;
}
