#pragma once

#include <cstddef>
#include <memory>
#include <optional>

namespace webrtc {
class AudioProcessing;
}

namespace ostrel::coreaudio::pulse {

// WebRTC's echo cancellation on mono float blocks of 10 ms. The reference
// is what the speakers play; the capture has that echo taken out.
class EchoCanceller {
 public:
  static std::optional<EchoCanceller> create(int rate);
  EchoCanceller(EchoCanceller&&) noexcept;
  EchoCanceller& operator=(EchoCanceller&&) noexcept;
  EchoCanceller(const EchoCanceller&) = delete;
  EchoCanceller& operator=(const EchoCanceller&) = delete;
  ~EchoCanceller();

  std::size_t blockFrames() const { return blockFrames_; }
  void analyzeReference(const float* block);
  // False when processing failed; `out` then holds the unprocessed block.
  bool process(const float* in, float* out);

 private:
  struct Release {
    void operator()(webrtc::AudioProcessing* processing) const;
  };
  EchoCanceller(webrtc::AudioProcessing* processing, int rate);

  std::unique_ptr<webrtc::AudioProcessing, Release> processing_;
  int rate_ = 0;
  std::size_t blockFrames_ = 0;
};

}  // namespace ostrel::coreaudio::pulse
