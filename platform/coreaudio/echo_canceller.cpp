#include "platform/coreaudio/echo_canceller.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include <algorithm>

namespace ostrel::coreaudio::pulse {

namespace {
// Capture and playback of one server are close in time; the canceller's own
// delay estimation covers the rest.
constexpr int streamDelayMs = 10;
}  // namespace

void EchoCanceller::Release::operator()(webrtc::AudioProcessing* processing) const { delete processing; }

EchoCanceller::EchoCanceller(webrtc::AudioProcessing* processing, int rate)
    : processing_(processing), rate_(rate), blockFrames_(std::size_t(rate / 100)) {}
EchoCanceller::EchoCanceller(EchoCanceller&&) noexcept = default;
EchoCanceller& EchoCanceller::operator=(EchoCanceller&&) noexcept = default;
EchoCanceller::~EchoCanceller() = default;

std::optional<EchoCanceller> EchoCanceller::create(int rate) {
  if (rate < 8000 || rate % 100 != 0) return std::nullopt;
  webrtc::Config config;
  config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
  config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
  webrtc::AudioProcessing* processing = webrtc::AudioProcessing::Create(config);
  if (!processing) return std::nullopt;
  EchoCanceller canceller(processing, rate);
  if (processing->echo_cancellation()->Enable(true) != webrtc::AudioProcessing::kNoError) return std::nullopt;
  if (processing->high_pass_filter()->Enable(true) != webrtc::AudioProcessing::kNoError) return std::nullopt;
  return canceller;
}

void EchoCanceller::analyzeReference(const float* block) {
  const float* channels[] = {block};
  processing_->AnalyzeReverseStream(channels, blockFrames_, rate_, webrtc::AudioProcessing::kMono);
}

bool EchoCanceller::process(const float* in, float* out) {
  std::copy_n(in, blockFrames_, out);
  processing_->set_stream_delay_ms(streamDelayMs);
  const float* source[] = {in};
  float* destination[] = {out};
  const int status = processing_->ProcessStream(source, blockFrames_, rate_, webrtc::AudioProcessing::kMono, rate_,
                                                webrtc::AudioProcessing::kMono, destination);
  if (status != webrtc::AudioProcessing::kNoError) {
    std::copy_n(in, blockFrames_, out);
    return false;
  }
  return true;
}

}  // namespace ostrel::coreaudio::pulse
