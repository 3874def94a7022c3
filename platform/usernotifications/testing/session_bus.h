#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/foundation/json.h"

namespace ostrel::testing {

using Environment = std::vector<std::pair<std::string, std::string>>;

// A process a test started; dropping it kills the process if it still runs.
class ChildProcess {
 public:
  // The test's own environment with `extra` set on top.
  static std::expected<ChildProcess, std::string> start(const std::vector<std::string>& arguments,
                                                        const Environment& extra = {});
  ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // The exit status, or -1 after a signal; nothing on time-out.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);
  pid_t pid() const { return pid_; }

 private:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  pid_t pid_ = -1;
};

// Runs a command to its end; its exit status and standard output.
struct Finished {
  int status = -1;
  std::string output;
};
std::optional<Finished> runToEnd(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout);

// A python interpreter that has dbusmock, if any.
std::optional<std::string> pythonWithDbusmock();

// A private session bus (dbus-daemon) for one test, stopped when dropped.
class PrivateSessionBus {
 public:
  static std::expected<PrivateSessionBus, std::string> start();
  PrivateSessionBus(PrivateSessionBus&& other) noexcept
      : address_(std::move(other.address_)), pid_(std::exchange(other.pid_, -1)) {}
  PrivateSessionBus& operator=(PrivateSessionBus&&) = delete;
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;
  ~PrivateSessionBus();

  const std::string& address() const { return address_; }

 private:
  PrivateSessionBus(std::string address, pid_t pid) : address_(std::move(address)), pid_(pid) {}
  std::string address_;
  pid_t pid_ = -1;
};

// The mock notification server on the test's session bus.
class MockNotificationServer {
 public:
  static std::expected<MockNotificationServer, std::string> start(const std::string& python);

  // The Notify calls so far ({"summary", "body", "hints", "actions", ...}).
  std::vector<json::Value> notifyCalls() const;
  // Waits (bounded) until `count` Notify calls have come.
  std::vector<json::Value> waitForNotifyCalls(size_t count, std::chrono::milliseconds timeout) const;
  // The ids the sender asked the server to close.
  std::vector<uint32_t> closeRequests() const;
  void click(uint32_t id, const std::string& key = "default") const;
  void close(uint32_t id, uint32_t reason) const;

 private:
  MockNotificationServer(std::string python, ChildProcess process)
      : python_(std::move(python)), process_(std::move(process)) {}
  std::optional<Finished> control(const std::vector<std::string>& arguments) const;

  std::string python_;
  ChildProcess process_;
};

// Every test gets a session bus of its own (DBUS_SESSION_BUS_ADDRESS points
// at it), and a mock notification server on it unless it asks for none.
// Skips when dbus-daemon or python3-dbusmock is missing.
class NotificationBusTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void startServer();

  virtual bool wantsServer() const { return true; }

  std::optional<PrivateSessionBus> bus;
  std::optional<MockNotificationServer> server;
  std::string python;
};

}  // namespace ostrel::testing
