#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <thread>
#include <vector>

namespace ostrel::mic {

// Where the audio thread hands its 16-bit samples.
class PcmSink {
 public:
  virtual ~PcmSink() = default;
  // Called on the real-time thread: must not block or allocate.
  virtual void write(std::span<const std::int16_t> samples) = 0;
};

// Samples go through a single-producer ring to a writer thread that owns the
// blocking writes to a file descriptor, so the audio thread never waits on
// the reader. When the reader goes away (EPIPE or any write error) the
// writer stops and calls `onClosed` once, on its own thread. Samples that do
// not fit in the ring are dropped.
class PcmPipe final : public PcmSink {
 public:
  PcmPipe(int fd, std::size_t capacitySamples, std::function<void()> onClosed);
  PcmPipe(const PcmPipe&) = delete;
  PcmPipe& operator=(const PcmPipe&) = delete;
  ~PcmPipe() override;

  void write(std::span<const std::int16_t> samples) override;
  // Writes what is queued and stops the writer; call once capture has stopped.
  void finish();
  std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  void run();
  bool writeAll(const std::int16_t* samples, std::size_t count);
  std::size_t drain();

  int fd_;
  std::vector<std::int16_t> ring_;
  std::atomic<std::size_t> head_{0};  // written by the audio thread
  std::atomic<std::size_t> tail_{0};  // written by the writer thread
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> finishing_{false};
  std::atomic<Clock::time_point> finishDeadline_{Clock::time_point::max()};
  std::atomic<bool> closed_{false};
  std::atomic<std::uint64_t> dropped_{0};
  std::function<void()> onClosed_;
  std::thread writer_;
};

}  // namespace ostrel::mic
