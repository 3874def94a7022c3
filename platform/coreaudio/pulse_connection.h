#pragma once

#include <pulse/pulseaudio.h>

#include <expected>
#include <memory>

#include "platform/coreaudio/audio_types.h"
#include "platform/foundation/error.h"

namespace ostrel::coreaudio::pulse {

// Owns one threaded main loop and one connected context. Every call into
// libpulse from outside the loop's thread holds the loop lock.
class Connection {
 public:
  // A failure carries the server's words for it (pa_strerror).
  static std::expected<std::unique_ptr<Connection>, Error> open(const char* clientName);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  pa_threaded_mainloop* loop() const { return loop_; }
  pa_context* context() const { return context_; }

  // Waits, with the lock held, until `operation` is done, then releases it.
  // False when the operation was missing or the context failed.
  bool await(pa_operation* operation);
  // False once the server has gone (or the connection failed otherwise);
  // a connection never comes back.
  bool alive() const;

 private:
  Connection() = default;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

// RAII for the loop lock; a no-op when called on the loop's own thread.
class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop);
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;
  ~LoopLock();

 private:
  pa_threaded_mainloop* loop_;
};

}  // namespace ostrel::coreaudio::pulse
