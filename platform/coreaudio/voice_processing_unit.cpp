#include "platform/coreaudio/voice_processing_unit.h"

#include <algorithm>

#include "platform/coreaudio/pulse_queries.h"

namespace ostrel::coreaudio::pulse {

namespace {

// Appends frames to a fixed block; calls `full` each time the block fills.
template <class Full>
void fillBlocks(std::vector<float>& block, std::size_t& fill, const float* samples, std::size_t frames, Full full) {
  while (frames > 0) {
    const std::size_t take = std::min(frames, block.size() - fill);
    if (samples) {
      std::copy_n(samples, take, block.begin() + std::ptrdiff_t(fill));
      samples += take;
    } else {
      std::fill_n(block.begin() + std::ptrdiff_t(fill), take, 0.0f);
    }
    fill += take;
    frames -= take;
    if (fill == block.size()) {
      full();
      fill = 0;
    }
  }
}

}  // namespace

VoiceProcessingUnit::~VoiceProcessingUnit() {
  stop();
  uninitialize();
}

void VoiceProcessingUnit::microphoneArrived(void* self, const float* samples, std::size_t frames) {
  auto* unit = static_cast<VoiceProcessingUnit*>(self);
  fillBlocks(unit->microphoneBlock_, unit->microphoneFill_, samples, frames, [unit] {
    unit->canceller_->process(unit->microphoneBlock_.data(), unit->processedBlock_.data());
    unit->deliver(unit->processedBlock_.data(), unit->processedBlock_.size());
  });
}

// Only the microphone counts: without the reference, capture goes on uncancelled.
void VoiceProcessingUnit::microphoneEnded(void* self, OSStatus reason) {
  static_cast<VoiceProcessingUnit*>(self)->stopped(reason);
}

void VoiceProcessingUnit::referenceArrived(void* self, const float* samples, std::size_t frames) {
  auto* unit = static_cast<VoiceProcessingUnit*>(self);
  fillBlocks(unit->referenceBlock_, unit->referenceFill_, samples, frames,
             [unit] { unit->canceller_->analyzeReference(unit->referenceBlock_.data()); });
}

OSStatus VoiceProcessingUnit::initialize() {
  if (initialized_) return noErr;
  const auto rate = captureRate();
  if (!rate) return kAudioUnitErr_Uninitialized;
  const auto defaults = serverDefaults(connection_);
  if (!defaults) return kAudioHardwareNotRunningError;
  canceller_ = EchoCanceller::create(int(*rate));
  if (!canceller_) return kAudioUnitErr_InvalidPropertyValue;
  microphoneBlock_.assign(canceller_->blockFrames(), 0.0f);
  referenceBlock_.assign(canceller_->blockFrames(), 0.0f);
  processedBlock_.assign(canceller_->blockFrames(), 0.0f);
  microphoneFill_ = referenceFill_ = 0;

  auto microphone = RecordStream::connect(connection_, defaults->source, RecordStream::Routing::followsDefault,
                                          std::uint32_t(*rate), "voice", microphoneArrived, microphoneEnded, this);
  if (!microphone) return microphone.error();
  microphone_ = std::move(*microphone);

  // Without a default output there is nothing to cancel; capture goes on.
  std::string monitor;
  if (const auto devices = listDevices(connection_)) {
    for (const Device& device : *devices)
      if (!device.isSource && device.name == defaults->sink) monitor = device.monitorSource;
  }
  if (!monitor.empty()) {
    auto reference = RecordStream::connect(connection_, monitor, RecordStream::Routing::followsDefault,
                                           std::uint32_t(*rate), "echo reference", referenceArrived, nullptr, this);
    if (reference) reference_ = std::move(*reference);
  }
  initialized_ = true;
  return noErr;
}

OSStatus VoiceProcessingUnit::start() {
  if (!microphone_) return kAudioUnitErr_Uninitialized;
  if (reference_) reference_->setCorked(false);
  return microphone_->setCorked(false);
}

OSStatus VoiceProcessingUnit::stop() {
  if (reference_) reference_->setCorked(true);
  return microphone_ ? microphone_->setCorked(true) : noErr;
}

OSStatus VoiceProcessingUnit::uninitialize() {
  microphone_.reset();
  reference_.reset();
  canceller_.reset();
  initialized_ = false;
  return noErr;
}

}  // namespace ostrel::coreaudio::pulse
