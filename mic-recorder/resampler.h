#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ostrel::mic {

inline constexpr double TARGET_RATE = 16000.0;

// Mono float capture at the source rate to 16-bit samples at TARGET_RATE by
// linear interpolation, no filter. The read position's fraction and the
// samples not yet consumed carry over from one push to the next. After
// prepare(), push() allocates only when a cycle brings more samples than
// any before.
class Resampler {
 public:
  // Sets the source rate and makes room for cycles of `maxFrames` frames.
  void prepare(double sourceRate, std::size_t maxFrames);
  // The samples this cycle yields; valid until the next push.
  std::span<const std::int16_t> push(std::span<const float> samples);

  std::size_t pendingCount() const { return pending_.size(); }
  double position() const { return position_; }

 private:
  double sourceRate_ = 48000.0;
  double position_ = 0.0;
  std::vector<float> pending_;
  std::vector<std::int16_t> output_;
};

// Full scale and above give 32767, -1 and below -32767; truncated toward zero.
std::int16_t toSample(float value);

}  // namespace ostrel::mic
