#include "mic-recorder/resampler.h"

#include <algorithm>

namespace ostrel::mic {

std::int16_t toSample(float value) {
  const float scaled = value < 1.0f ? std::max(value, -1.0f) * 32767.0f : 32767.0f;
  return static_cast<std::int16_t>(scaled);
}

void Resampler::prepare(double sourceRate, std::size_t maxFrames) {
  sourceRate_ = sourceRate;
  position_ = 0.0;
  pending_.clear();
  // The tail left over is under one step, plus a cycle of new frames.
  const double step = sourceRate_ / TARGET_RATE;
  const std::size_t pendingRoom = maxFrames + std::size_t(step) + 2;
  pending_.reserve(pendingRoom);
  output_.reserve(std::size_t(double(pendingRoom) / step) + 1);
}

std::span<const std::int16_t> Resampler::push(std::span<const float> samples) {
  pending_.insert(pending_.end(), samples.begin(), samples.end());
  output_.clear();
  if (pending_.size() < 2) return {};

  const double step = sourceRate_ / TARGET_RATE;
  output_.reserve(std::size_t(double(pending_.size()) / step) + 1);
  while (position_ < double(pending_.size()) - 1) {
    const std::size_t i = std::size_t(position_);
    const float f = float(position_ - double(i));
    const float s = (1.0f - f) * pending_[i] + pending_[i + 1] * f;
    output_.push_back(toSample(s));
    position_ += step;
  }

  const std::size_t consumed = std::min(pending_.size(), std::size_t(position_));
  if (consumed > 0) {
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(consumed));
    position_ -= double(consumed);
  }
  return output_;
}

}  // namespace ostrel::mic
