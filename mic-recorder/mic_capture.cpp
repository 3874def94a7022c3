#include "mic-recorder/mic_capture.h"

#include <nlohmann/json.hpp>

#include <cstring>

#include "mic-recorder/device_queries.h"

namespace ostrel::mic {

using namespace coreaudio;

namespace {

constexpr std::size_t renderBufferFrames = 8192;
constexpr int initializeAttempts = 6;
constexpr std::chrono::milliseconds initializePause{300};

OSStatus inputArrived(void* context, RenderFlags* flags, const AudioTimeStamp* timestamp, std::uint32_t bus,
                      std::uint32_t frames) {
  return static_cast<MicCapture*>(context)->pullInput(flags, timestamp, bus, frames);
}

OSStatus renderSilence(void*, RenderFlags*, const AudioTimeStamp*, std::uint32_t, std::uint32_t, float* buffer,
                       std::uint32_t bytes) {
  if (buffer) std::memset(buffer, 0, bytes);
  return noErr;
}

std::string withStatus(const char* message, OSStatus status) { return message + std::to_string(status); }

}  // namespace

StreamFormat captureFormat(double rate) {
  return {.sampleRate = rate,
          .formatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
          .bytesPerPacket = 4,
          .framesPerPacket = 1,
          .bytesPerFrame = 4,
          .channelsPerFrame = 1,
          .bitsPerChannel = 32};
}

MicCapture::MicCapture(AudioSystem& system, StatusLines& status, PcmSink& pcm, Sleep sleep,
                       std::function<void()> onLost)
    : system_(system),
      status_(status),
      pcm_(pcm),
      sleep_(std::move(sleep)),
      onLost_(std::move(onLost)),
      renderBuffer_(renderBufferFrames, 0.0f) {}

MicCapture::~MicCapture() { stop(); }

std::expected<void, std::string> MicCapture::fail(const std::string& note) {
  status(errorLine(note));
  // Released here rather than left to the process's end, so a failure
  // never leaves a half-configured stream behind in the server.
  stop();
  return std::unexpected(note);
}

void MicCapture::lost(OSStatus reason) {
  OSStatus none = noErr;
  if (!lossReason_.compare_exchange_strong(none, reason == noErr ? kAudioHardwareUnspecifiedError : reason)) return;
  if (onLost_) onLost_();
}

std::optional<std::string> MicCapture::lossNote() const {
  switch (const OSStatus reason = lossReason_.load()) {
    case noErr:
      return std::nullopt;
    case kAudioHardwareBadDeviceError:
      return "capture device went away";
    case kAudioHardwareNotRunningError:
      return "audio server went away";
    default:
      return withStatus("capture stopped: ", reason);
  }
}

void MicCapture::stop() {
  running_.store(nullptr, std::memory_order_release);
  if (!unit_) return;
  unit_->stop();
  unit_->uninitialize();
  unit_.reset();
}

std::expected<void, std::string> MicCapture::start() {
  const auto output = defaultDevice(system_, DefaultDevice::output);
  const auto transport = output ? transportType(system_, *output) : std::nullopt;
  const bool bluetoothOutput =
      transport == TransportType::bluetooth || transport == TransportType::bluetoothLE;
  if (!bluetoothOutput) return startVoiceProcessing();

  if (const auto builtIn = builtInInputDevice(system_)) return startPlain(*builtIn, "plain-builtin-mic");
  if (const auto input = defaultDevice(system_, DefaultDevice::input)) return startPlain(*input, "plain-default-mic");
  return fail("no input device available");
}

std::expected<void, std::string> MicCapture::createUnit(ComponentSubType subType, const std::string& missing) {
  const auto component = system_.findComponent(subType);
  if (!component) return fail(missing);
  auto unit = system_.newInstance(*component);
  if (!unit) return fail(withStatus("AudioComponentInstanceNew failed: ", unit.error()));
  if (!*unit) return fail(withStatus("AudioComponentInstanceNew failed: ", noErr));
  unit_ = std::move(*unit);
  return {};
}

std::expected<void, std::string> MicCapture::startPlain(AudioObjectID device, const std::string& mode) {
  if (auto created = createUnit(ComponentSubType::halOutput, "HALOutput component not found"); !created)
    return created;
  AudioUnit& unit = *unit_;
  if (OSStatus s = unit.setEnableIO(Scope::input, INPUT_BUS, true); s != noErr)
    return fail(withStatus("enable input failed: ", s));
  if (OSStatus s = unit.setEnableIO(Scope::output, OUTPUT_BUS, false); s != noErr)
    return fail(withStatus("disable output failed: ", s));
  if (OSStatus s = unit.setCurrentDevice(device); s != noErr)
    return fail(withStatus("set capture device failed: ", s));
  clientRate_ = nominalRate(system_, device).value_or(48000.0);
  if (OSStatus s = unit.setStreamFormat(Scope::output, INPUT_BUS, captureFormat(clientRate_)); s != noErr)
    return fail(withStatus("set capture format failed: ", s));
  if (OSStatus s = installInputCallback(unit); s != noErr) return fail(withStatus("set input callback failed: ", s));
  if (auto started = initializeAndStart(unit); !started) return started;
  status(plainStartLine(mode, clientRate_));
  return {};
}

std::expected<void, std::string> MicCapture::startVoiceProcessing() {
  if (auto created = createUnit(ComponentSubType::voiceProcessingIO, "VoiceProcessingIO component not found");
      !created)
    return created;
  AudioUnit& unit = *unit_;
  if (OSStatus s = unit.setEnableIO(Scope::input, INPUT_BUS, true); s != noErr)
    return fail(withStatus("enable input failed: ", s));
  if (OSStatus s = unit.setEnableIO(Scope::output, OUTPUT_BUS, true); s != noErr)
    return fail(withStatus("enable output failed: ", s));
  const auto input = defaultDevice(system_, DefaultDevice::input);
  clientRate_ = (input ? nominalRate(system_, *input) : std::nullopt).value_or(48000.0);
  if (OSStatus s = unit.setStreamFormat(Scope::output, INPUT_BUS, captureFormat(clientRate_)); s != noErr)
    return fail(withStatus("set capture format failed: ", s));
  if (OSStatus s = unit.setStreamFormat(Scope::input, OUTPUT_BUS, captureFormat(clientRate_)); s != noErr)
    return fail(withStatus("set render format failed: ", s));
  std::string ducking = disableOtherAudioDucking(unit);
  if (OSStatus s = installInputCallback(unit); s != noErr) return fail(withStatus("set input callback failed: ", s));
  if (OSStatus s = unit.setRenderCallback(Scope::input, OUTPUT_BUS, {renderSilence, nullptr}); s != noErr)
    return fail(withStatus("set render callback failed: ", s));
  if (auto started = initializeAndStart(unit); !started) return started;
  if (ducking.starts_with("failed")) {
    ducking = disableOtherAudioDucking(unit);
    if (ducking.starts_with("failed")) status(duckingLine(ducking));
  }
  status(voiceProcessingStartLine(ducking, clientRate_));
  return {};
}

OSStatus MicCapture::installInputCallback(AudioUnit& unit) { return unit.setInputCallback({inputArrived, this}); }

std::string MicCapture::disableOtherAudioDucking(AudioUnit& unit) {
  const OSStatus s = unit.setDuckingConfiguration(
      {.enableAdvancedDucking = false, .duckingLevel = kAUVoiceIOOtherAudioDuckingLevelMin});
  return s == noErr ? "disabled" : withStatus("failed:", s);
}

std::expected<void, std::string> MicCapture::initializeAndStart(AudioUnit& unit) {
  // The audio thread may run as soon as the unit starts: everything it uses
  // is ready before.
  resampler_.prepare(clientRate_, renderBuffer_.size());
  if (OSStatus s = unit.setStoppedListener([this](OSStatus reason) { lost(reason); }); s != noErr)
    return fail(withStatus("set stop listener failed: ", s));
  OSStatus s = unit.initialize();
  for (int attempt = 1; s != noErr && attempt < initializeAttempts; ++attempt) {
    sleep_(initializePause);
    s = unit.initialize();
  }
  if (s != noErr) return fail(withStatus("AudioUnitInitialize failed: ", s));
  running_.store(&unit, std::memory_order_release);
  if (s = unit.start(); s != noErr) return fail(withStatus("AudioOutputUnitStart failed: ", s));
  return {};
}

OSStatus MicCapture::pullInput(RenderFlags* flags, const AudioTimeStamp* timestamp, std::uint32_t bus,
                               std::uint32_t frames) {
  AudioUnit* unit = running_.load(std::memory_order_acquire);
  if (!unit) return noErr;
  if (renderBuffer_.size() < frames) renderBuffer_.assign(frames, 0.0f);
  if (OSStatus s = unit->render(flags, timestamp, bus, frames, renderBuffer_.data()); s != noErr) return s;
  const auto samples = resampler_.push(std::span<const float>(renderBuffer_.data(), frames));
  if (!samples.empty()) pcm_.write(samples);
  return noErr;
}

}  // namespace ostrel::mic
