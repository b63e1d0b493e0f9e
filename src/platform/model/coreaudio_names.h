// The CoreAudio names the probes use, declared with the platform's shapes and
// answered by the platform model.
#pragma once

#include <cstdint>

using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using OSStatus = std::int32_t;
using AudioObjectID = UInt32;
using AudioObjectPropertySelector = UInt32;
using AudioObjectPropertyScope = UInt32;
using AudioObjectPropertyElement = UInt32;

struct AudioObjectPropertyAddress {
  AudioObjectPropertySelector mSelector;
  AudioObjectPropertyScope mScope;
  AudioObjectPropertyElement mElement;
};

using AudioObjectPropertyListenerProc = OSStatus (*)(AudioObjectID inObjectID, UInt32 inNumberAddresses,
                                                     const AudioObjectPropertyAddress* inAddresses, void* inClientData);

struct AudioBuffer {
  UInt32 mNumberChannels;
  UInt32 mDataByteSize;
  void* mData;
};

struct AudioBufferList {
  UInt32 mNumberBuffers;
  AudioBuffer mBuffers[1];
};

constexpr OSStatus noErr = 0;
constexpr OSStatus kAudioHardwareUnknownPropertyError = 0x77686F3F;  // 'who?'
constexpr OSStatus kAudioHardwareBadObjectError = 0x216F626A;        // '!obj'
constexpr OSStatus kAudioHardwareBadPropertySizeError = 0x2173697A;  // '!siz'

constexpr AudioObjectID kAudioObjectSystemObject = 1;
constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;

constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = 0x676C6F62;  // 'glob'
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeInput = 0x696E7074;   // 'inpt'
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = 0x6F757470;  // 'outp'

constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = 0x64657623;              // 'dev#'
constexpr AudioObjectPropertySelector kAudioHardwarePropertyProcessObjectList = 0x70727323;    // 'prs#'
constexpr AudioObjectPropertySelector kAudioProcessPropertyPID = 0x70706964;                   // 'ppid'
constexpr AudioObjectPropertySelector kAudioProcessPropertyBundleID = 0x70626964;              // 'pbid'
constexpr AudioObjectPropertySelector kAudioProcessPropertyIsRunningInput = 0x70697269;        // 'piri'
constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamConfiguration = 0x736C6179;    // 'slay'
constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceIsRunningSomewhere = 0x676F6E65;  // 'gone'

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        UInt32 inQualifierDataSize, const void* inQualifierData,
                                        UInt32* outDataSize);

OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                    UInt32 inQualifierDataSize, const void* inQualifierData, UInt32* ioDataSize,
                                    void* outData);

OSStatus AudioObjectAddPropertyListener(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        AudioObjectPropertyListenerProc inListener, void* inClientData);

OSStatus AudioObjectRemovePropertyListener(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                           AudioObjectPropertyListenerProc inListener, void* inClientData);
