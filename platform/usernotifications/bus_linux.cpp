#include "platform/usernotifications/bus_linux.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <utility>

#include <asio/post.hpp>

namespace ostrel::usernotifications_linux {

Error busError(int negativeErrno, const std::string& what) {
  Error error = POSIXError::make(-negativeErrno);
  error.userInfo[localizedDescriptionKey] = what + ": " + std::strerror(-negativeErrno);
  return error;
}

std::expected<BusConnection, Error> openUserBus() {
  BusConnection bus;
  if (int r = sd_bus_open_user(bus.out()); r < 0) return std::unexpected(busError(r, "cannot reach the session bus"));
  return bus;
}

// The descriptor is a duplicate: Asio closes its own, sd-bus keeps the original.
BusDispatcher::BusDispatcher(asio::io_context& queue, sd_bus* bus, std::function<void()> onBroken)
    : bus_(bus), onBroken_(std::move(onBroken)), descriptor_(queue, ::dup(sd_bus_get_fd(bus))), timeout_(queue) {
  asio::post(queue, [this] { pump(); });
}

void BusDispatcher::wake() {
  asio::post(descriptor_.get_executor(), [this] { pump(); });
}

void BusDispatcher::pump() {
  if (broken_) return;
  int r = 0;
  while ((r = sd_bus_process(bus_, nullptr)) > 0) {
  }
  // A broken connection has failed its pending calls by now; nothing more comes.
  if (r < 0) return broke();
  arm();
}

void BusDispatcher::broke() {
  broken_ = true;
  timeout_.cancel();
  if (auto onBroken = std::exchange(onBroken_, {})) onBroken();
}

void BusDispatcher::arm() {
  const int events = sd_bus_get_events(bus_);
  if (events < 0) return broke();
  if ((events & POLLIN) && !awaitingRead_) {
    awaitingRead_ = true;
    descriptor_.async_wait(asio::posix::descriptor_base::wait_read, [this](std::error_code error) {
      awaitingRead_ = false;
      if (!error) pump();
    });
  }
  if ((events & POLLOUT) && !awaitingWrite_) {
    awaitingWrite_ = true;
    descriptor_.async_wait(asio::posix::descriptor_base::wait_write, [this](std::error_code error) {
      awaitingWrite_ = false;
      if (!error) pump();
    });
  }
  uint64_t usec = 0;
  if (sd_bus_get_timeout(bus_, &usec) >= 0 && usec != UINT64_MAX) {
    // Both count CLOCK_MONOTONIC.
    timeout_.expires_at(asio::steady_timer::time_point(std::chrono::microseconds(usec)));
    timeout_.async_wait([this](std::error_code error) {
      if (!error) pump();
    });
  }
}

}  // namespace ostrel::usernotifications_linux
