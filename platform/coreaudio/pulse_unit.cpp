#include "platform/coreaudio/pulse_unit.h"

#include <algorithm>

namespace ostrel::coreaudio::pulse {

OSStatus PulseUnit::setEnableIO(Scope scope, Element element, bool enabled) {
  if (initialized_) return kAudioUnitErr_CannotDoInCurrentContext;
  if (scope == Scope::input && element == inputElement) {
    inputEnabled_ = enabled;
    return noErr;
  }
  if (scope == Scope::output && element == outputElement) {
    outputEnabled_ = enabled;
    return noErr;
  }
  return kAudioUnitErr_InvalidProperty;
}

OSStatus PulseUnit::setStreamFormat(Scope scope, Element element, const StreamFormat& format) {
  if (initialized_) return kAudioUnitErr_CannotDoInCurrentContext;
  const bool monoFloat = (format.formatFlags & kAudioFormatFlagIsFloat) && format.channelsPerFrame == 1 &&
                         format.bitsPerChannel == 32 && format.bytesPerFrame == 4 && format.sampleRate > 0;
  if (!monoFloat) return kAudioUnitErr_InvalidPropertyValue;
  // The captured side of the input element is what the callback reads; the
  // render side of the output element is accepted as nothing is played.
  if (scope == Scope::output && element == inputElement) {
    captureFormat_ = format;
    return noErr;
  }
  if (scope == Scope::input && element == outputElement) return noErr;
  return kAudioUnitErr_InvalidProperty;
}

OSStatus PulseUnit::setInputCallback(const CallbackStruct& callback) {
  if (initialized_) return kAudioUnitErr_CannotDoInCurrentContext;
  inputCallback_ = callback;
  return noErr;
}

OSStatus PulseUnit::setRenderCallback(Scope scope, Element element, const RenderCallbackStruct& callback) {
  if (scope != Scope::input || element != outputElement) return kAudioUnitErr_InvalidProperty;
  if (initialized_) return kAudioUnitErr_CannotDoInCurrentContext;
  renderCallback_ = callback;
  return noErr;
}

OSStatus PulseUnit::setStoppedListener(std::function<void(OSStatus reason)> onStopped) {
  if (initialized_) return kAudioUnitErr_CannotDoInCurrentContext;
  stoppedListener_ = std::move(onStopped);
  return noErr;
}

void PulseUnit::stopped(OSStatus reason) {
  if (stoppedListener_) stoppedListener_(reason);
}

std::optional<double> PulseUnit::captureRate() const {
  if (!inputEnabled_ || !captureFormat_ || !inputCallback_.inputProc) return std::nullopt;
  return captureFormat_->sampleRate;
}

void PulseUnit::deliver(const float* samples, std::size_t frames) {
  cycleSamples_ = samples;
  cycleFrames_ = frames;
  inCycle_ = true;
  RenderFlags flags = 0;
  const AudioTimeStamp timestamp{sampleTime_};
  inputCallback_.inputProc(inputCallback_.context, &flags, &timestamp, inputElement, std::uint32_t(frames));
  inCycle_ = false;
  sampleTime_ += double(frames);
}

OSStatus PulseUnit::render(RenderFlags*, const AudioTimeStamp*, std::uint32_t bus, std::uint32_t frames,
                           float* buffer) {
  if (!inCycle_ || bus != inputElement || frames > cycleFrames_ || !buffer)
    return kAudioUnitErr_CannotDoInCurrentContext;
  if (cycleSamples_)
    std::copy_n(cycleSamples_, frames, buffer);
  else
    std::fill_n(buffer, frames, 0.0f);
  return noErr;
}

}  // namespace ostrel::coreaudio::pulse
