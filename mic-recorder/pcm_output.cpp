#include "mic-recorder/pcm_output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace ostrel::mic {

namespace {
// How long the writer sleeps when the ring is empty; the audio thread
// never signals, so this bounds the added latency.
constexpr auto idlePause = std::chrono::milliseconds(5);
// How long a reader that has stopped reading may delay the end.
constexpr auto finishGrace = std::chrono::seconds(1);
}  // namespace

PcmPipe::PcmPipe(int fd, std::size_t capacitySamples, std::function<void()> onClosed)
    : fd_(fd), ring_(capacitySamples + 1), onClosed_(std::move(onClosed)), writer_([this] { run(); }) {}

PcmPipe::~PcmPipe() { finish(); }

void PcmPipe::write(std::span<const std::int16_t> samples) {
  if (closed_.load(std::memory_order_relaxed)) return;
  std::size_t head = head_.load(std::memory_order_relaxed);
  const std::size_t tail = tail_.load(std::memory_order_acquire);
  const std::size_t size = ring_.size();
  const std::size_t free = (tail + size - head - 1) % size;
  const std::size_t count = std::min(free, samples.size());
  for (std::size_t k = 0; k < count; ++k) {
    ring_[head] = samples[k];
    head = (head + 1) % size;
  }
  head_.store(head, std::memory_order_release);
  if (count < samples.size()) dropped_.fetch_add(samples.size() - count, std::memory_order_relaxed);
}

bool PcmPipe::writeAll(const std::int16_t* samples, std::size_t count) {
  const char* bytes = reinterpret_cast<const char*>(samples);
  std::size_t left = count * sizeof(std::int16_t);
  while (left > 0) {
    // A reader that stops reading must not hold up the end of the program.
    pollfd ready{fd_, POLLOUT, 0};
    if (::poll(&ready, 1, 100) == 0) {
      if (finishing_.load() && Clock::now() > finishDeadline_.load()) return false;
      continue;
    }
    const ssize_t written = ::write(fd_, bytes, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    left -= std::size_t(written);
  }
  return true;
}

// Writes what the ring holds; the number of samples written.
std::size_t PcmPipe::drain() {
  const std::size_t head = head_.load(std::memory_order_acquire);
  std::size_t tail = tail_.load(std::memory_order_relaxed);
  std::size_t total = 0;
  while (tail != head) {
    const std::size_t end = head > tail ? head : ring_.size();
    if (!writeAll(ring_.data() + tail, end - tail)) {
      closed_.store(true);
      return total;
    }
    total += end - tail;
    tail = end % ring_.size();
    tail_.store(tail, std::memory_order_release);
  }
  return total;
}

void PcmPipe::run() {
  while (!closed_.load()) {
    const bool last = finishing_.load(std::memory_order_acquire);
    if (drain() == 0 && !closed_.load()) {
      if (last) return;
      std::this_thread::sleep_for(idlePause);
    }
  }
  if (!finishing_.load() && onClosed_) onClosed_();
}

void PcmPipe::finish() {
  finishDeadline_.store(Clock::now() + finishGrace);
  finishing_.store(true, std::memory_order_release);
  if (writer_.joinable()) writer_.join();
}

}  // namespace ostrel::mic
