#pragma once

#include <systemd/sd-bus.h>

#include <expected>
#include <functional>
#include <string>
#include <utility>

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>

#include "platform/foundation/error.h"

namespace ostrel::usernotifications_linux {

// The error of a failed sd-bus call (negative errno).
Error busError(int negativeErrno, const std::string& what);

// Sole owner of one reference of an sd-bus handle.
template <class Handle, Handle* (*Unref)(Handle*)>
class BusHandle {
 public:
  BusHandle() = default;
  explicit BusHandle(Handle* adopted) : handle_(adopted) {}
  BusHandle(BusHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  BusHandle& operator=(BusHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  BusHandle(const BusHandle&) = delete;
  BusHandle& operator=(const BusHandle&) = delete;
  ~BusHandle() { reset(); }

  Handle* get() const { return handle_; }
  Handle** out() {
    reset();
    return &handle_;
  }
  void reset(Handle* adopted = nullptr) {
    if (handle_) Unref(handle_);
    handle_ = adopted;
  }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  Handle* handle_ = nullptr;
};

// Closing flushes what is still queued, so a last call is not lost.
using BusConnection = BusHandle<sd_bus, sd_bus_flush_close_unref>;
using BusSlot = BusHandle<sd_bus_slot, sd_bus_slot_unref>;
using BusMessage = BusHandle<sd_bus_message, sd_bus_message_unref>;

std::expected<BusConnection, Error> openUserBus();

// Drives one connection from an Asio queue: reads, writes and sd-bus's own
// time-outs are served there, so every callback runs on that queue.
// `onBroken` runs there once, when the connection ends (the bus went away).
class BusDispatcher {
 public:
  BusDispatcher(asio::io_context& queue, sd_bus* bus, std::function<void()> onBroken = {});
  BusDispatcher(const BusDispatcher&) = delete;
  BusDispatcher& operator=(const BusDispatcher&) = delete;

  // Call after queuing a message, so that it is written and its reply awaited.
  void wake();

 private:
  void pump();
  void arm();
  void broke();

  sd_bus* bus_;
  std::function<void()> onBroken_;
  asio::posix::stream_descriptor descriptor_;
  asio::steady_timer timeout_;
  bool awaitingRead_ = false;
  bool awaitingWrite_ = false;
  bool broken_ = false;
};

}  // namespace ostrel::usernotifications_linux
