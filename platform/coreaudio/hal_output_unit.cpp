#include "platform/coreaudio/hal_output_unit.h"

#include "platform/coreaudio/pulse_queries.h"

namespace ostrel::coreaudio::pulse {

HalOutputUnit::~HalOutputUnit() {
  stop();
  uninitialize();
}

OSStatus HalOutputUnit::setCurrentDevice(AudioObjectID device) {
  if (initialized_) return kAudioUnitErr_CannotDoInCurrentContext;
  const auto devices = listDevices(connection_);
  if (!devices) return kAudioHardwareNotRunningError;
  for (const Device& candidate : *devices) {
    if (candidate.id == device && candidate.isSource) {
      source_ = candidate.name;
      return noErr;
    }
  }
  return kAudioHardwareBadObjectError;
}

void HalOutputUnit::arrived(void* self, const float* samples, std::size_t frames) {
  static_cast<HalOutputUnit*>(self)->deliver(samples, frames);
}

void HalOutputUnit::ended(void* self, OSStatus reason) { static_cast<HalOutputUnit*>(self)->stopped(reason); }

OSStatus HalOutputUnit::initialize() {
  if (initialized_) return noErr;
  const auto rate = captureRate();
  if (!rate) return kAudioUnitErr_Uninitialized;
  // Pinning needs a name: the default as it is now.
  if (source_.empty()) {
    const auto defaults = serverDefaults(connection_);
    if (!defaults) return kAudioHardwareNotRunningError;
    source_ = defaults->source;
  }
  auto stream = RecordStream::connect(connection_, source_, RecordStream::Routing::pinned, std::uint32_t(*rate),
                                      "capture", arrived, ended, this);
  if (!stream) return stream.error();
  stream_ = std::move(*stream);
  initialized_ = true;
  return noErr;
}

OSStatus HalOutputUnit::start() {
  if (!stream_) return kAudioUnitErr_Uninitialized;
  return stream_->setCorked(false);
}

OSStatus HalOutputUnit::stop() { return stream_ ? stream_->setCorked(true) : noErr; }

OSStatus HalOutputUnit::uninitialize() {
  // Destroying the stream under the loop lock guarantees no callback runs after.
  stream_.reset();
  initialized_ = false;
  return noErr;
}

}  // namespace ostrel::coreaudio::pulse
