#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/xpc/xpc.h"

namespace ostrel::drive::testing {

// The helper's side of the host link, scripted: connects to the extension's
// endpoint over a real socket, answers token requests with the token it is
// given, records the addresses it is asked to open.
class FakeHost {
 public:
  static std::unique_ptr<FakeHost> connect(const xpc::ListenerEndpoint& endpoint);
  ~FakeHost();

  void answerTokensWith(std::string token, double expiresAt);
  // Token requests are left unanswered until the connection ends.
  void holdTokenRequests();
  int tokenRequests() const;
  std::vector<std::string> openedURLs() const;
  bool waitForOpenedURLs(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  // Calls into the extension.
  std::optional<std::string> attach();  // the extension's bundle identifier
  void updateToken(const std::string& token, double expiresAt);
  void signalChangedEnumerators();

  void invalidate();
  bool waitUntilInvalidated(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  struct State;
  class Responder;
  FakeHost() = default;

  std::shared_ptr<State> state_;
  std::shared_ptr<xpc::Connection> connection_;
};

}  // namespace ostrel::drive::testing
