#pragma once

#include <cstdint>

namespace ostrel::coreaudio {

// Calls return a status code; 0 is success.
using OSStatus = std::int32_t;
using AudioObjectID = std::uint32_t;

inline constexpr OSStatus noErr = 0;

// Statuses as errors, with the audio system's own description when it gave one.
namespace OSStatusError {
inline constexpr const char* domain = "NSOSStatusErrorDomain";
}  // namespace OSStatusError

constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
  return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
         (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

// Failure codes, with the platform's values.
inline constexpr OSStatus kAudioHardwareUnspecifiedError = OSStatus(fourCharCode("what"));
inline constexpr OSStatus kAudioHardwareBadObjectError = OSStatus(fourCharCode("!obj"));
inline constexpr OSStatus kAudioHardwareBadDeviceError = OSStatus(fourCharCode("!dev"));
inline constexpr OSStatus kAudioHardwareNotRunningError = OSStatus(fourCharCode("stop"));
inline constexpr OSStatus kAudioUnitErr_Uninitialized = -10867;
inline constexpr OSStatus kAudioUnitErr_InvalidProperty = -10879;
inline constexpr OSStatus kAudioUnitErr_InvalidPropertyValue = -10851;
inline constexpr OSStatus kAudioUnitErr_CannotDoInCurrentContext = -10863;

inline constexpr AudioObjectID kAudioObjectSystemObject = 1;
inline constexpr AudioObjectID kAudioObjectUnknown = 0;

enum class TransportType : std::uint32_t {
  unknown = 0,
  builtIn = fourCharCode("bltn"),
  bluetooth = fourCharCode("blue"),
  bluetoothLE = fourCharCode("blea"),
  usb = fourCharCode("usb "),
  virtualDevice = fourCharCode("virt"),
};

enum class Scope : std::uint32_t { global = 0, input = 1, output = 2 };
using Element = std::uint32_t;

enum class ComponentSubType : std::uint32_t {
  halOutput = fourCharCode("ahal"),
  voiceProcessingIO = fourCharCode("vpio"),
};

// Linear PCM description of one side of a unit.
struct StreamFormat {
  double sampleRate = 0;
  std::uint32_t formatFlags = 0;
  std::uint32_t bytesPerPacket = 0;
  std::uint32_t framesPerPacket = 0;
  std::uint32_t bytesPerFrame = 0;
  std::uint32_t channelsPerFrame = 0;
  std::uint32_t bitsPerChannel = 0;
};
inline constexpr std::uint32_t kAudioFormatFlagIsFloat = 1;
inline constexpr std::uint32_t kAudioFormatFlagIsPacked = 8;

struct AudioTimeStamp {
  double sampleTime = 0;
};
using RenderFlags = std::uint32_t;

// Input callback: the unit has `frames` frames ready to be fetched with render().
using InputProc = OSStatus (*)(void* context, RenderFlags* flags, const AudioTimeStamp* timestamp, std::uint32_t bus,
                               std::uint32_t frames);
// Render callback: fills `buffer` (frames × channels floats; may be null) for output.
using RenderProc = OSStatus (*)(void* context, RenderFlags* flags, const AudioTimeStamp* timestamp, std::uint32_t bus,
                                std::uint32_t frames, float* buffer, std::uint32_t bytes);

struct CallbackStruct {
  InputProc inputProc = nullptr;
  void* context = nullptr;
};
struct RenderCallbackStruct {
  RenderProc renderProc = nullptr;
  void* context = nullptr;
};

inline constexpr std::uint32_t kAUVoiceIOOtherAudioDuckingLevelMin = 10;
struct DuckingConfiguration {
  bool enableAdvancedDucking = false;
  std::uint32_t duckingLevel = kAUVoiceIOOtherAudioDuckingLevelMin;
};

}  // namespace ostrel::coreaudio
