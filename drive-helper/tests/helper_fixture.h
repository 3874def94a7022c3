#pragma once

#include "platform/foundation/testing/mailbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drive-helper/host.h"
#include "platform/fileprovider/testing/fake_manager.h"
#include "platform/foundation/json.h"
#include "platform/foundation/testing/manual_queue.h"
#include "platform/xpc/xpc.h"

namespace ostrel::drive::helper::testing {

// Every real-time wait in these tests ends by this bound; passing runs take milliseconds.
inline constexpr std::chrono::seconds kWait{5};

// A fresh $OSTREL_HOME and XPC socket directory for the test, put back afterwards.
class TemporaryHome {
 public:
  TemporaryHome();
  ~TemporaryHome();
  TemporaryHome(const TemporaryHome&) = delete;
  TemporaryHome& operator=(const TemporaryHome&) = delete;

  const std::filesystem::path& home() const { return home_; }
  const std::filesystem::path& xpcDirectory() const { return xpc_; }
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
  std::filesystem::path home_;
  std::filesystem::path xpc_;
  std::map<std::string, std::optional<std::string>> saved_;
};

using ostrel::testing::Mailbox;

// The extension's end of the host link, on a real anonymous listener: it
// records what the host sends ("attach", "updateToken <token> <expiry>",
// "signal") and can ask the host for tokens and to open addresses.
class FakeExtension {
 public:
  static std::shared_ptr<FakeExtension> create();
  ~FakeExtension();

  xpc::ListenerEndpoint endpoint() const;
  Mailbox<std::string>& received();
  size_t connectionsAccepted() const;

  // accessTokenWithReply: on the newest connection; the answer lands in
  // tokenAnswers() (a failed request as "<error>").
  void requestToken();
  Mailbox<std::pair<std::string, double>>& tokenAnswers();
  void openURL(const std::string& address);
  // Closes every connection, as an extension that the system ends does.
  void dropConnections();

  struct State;

 private:
  FakeExtension() = default;
  std::shared_ptr<State> state_;
  std::shared_ptr<xpc::Listener> listener_;
  std::shared_ptr<xpc::ListenerDelegate> delegate_;
};

// A file-provider service whose connections go to a listener's endpoint.
class EndpointService final : public fileprovider::Service {
 public:
  explicit EndpointService(xpc::ListenerEndpoint endpoint) : endpoint_(std::move(endpoint)) {}
  std::string name() const override;
  void getFileProviderConnection(
      std::function<void(std::shared_ptr<xpc::Connection>, std::optional<Error>)> completion) override;

 private:
  xpc::ListenerEndpoint endpoint_;
};

// A service that cannot make a connection: with an error, or with nothing.
class BrokenService final : public fileprovider::Service {
 public:
  explicit BrokenService(std::optional<Error> error) : error_(std::move(error)) {}
  std::string name() const override;
  void getFileProviderConnection(
      std::function<void(std::shared_ptr<xpc::Connection>, std::optional<Error>)> completion) override;

 private:
  std::optional<Error> error_;
};

// A host on a fake manager and a manual queue, with its events recorded.
class HostTest : public ::testing::Test {
 protected:
  HostTest();
  ~HostTest() override;

  static constexpr const char* domainID = "matters";

  // Makes the host (once) with the suite of the test's home, or none.
  Host& host(bool withDefaults = true);
  // Events printed so far, all of them or those named `name`.
  std::vector<json::Value> events() const;
  std::vector<json::Value> events(const std::string& name) const;
  bool sawEvent(const std::string& name) const { return !events(name).empty(); }
  void clearEvents();
  // Runs the queue until an event named `name` has been printed `times` times.
  bool runUntilEvent(const std::string& name, size_t times = 1);
  // Hands the host's connection requests to the fake extension and connects.
  void attach();
  void send(const std::string& line);
  // What the extension received, in order, up to and including `last`
  // (the queue runs meanwhile). Messages on one connection keep their order,
  // so a later message proves that nothing else came before it.
  std::vector<std::string> receivedThrough(const std::string& last);

  void setDomains(std::vector<fileprovider::Domain> domains);

  TemporaryHome home_;
  std::shared_ptr<ostrel::testing::ManualQueue> queue_ = std::make_shared<ostrel::testing::ManualQueue>();
  std::shared_ptr<fileprovider::testing::FakeManager> manager_ = std::make_shared<fileprovider::testing::FakeManager>();
  std::shared_ptr<FakeExtension> extension_;
  std::shared_ptr<Host> host_;

 private:
  mutable std::mutex mutex_;
  std::vector<json::Value> events_;
  std::vector<fileprovider::Domain> domains_;
};

// How FakeExtension records updateToken:expiresAt:.
std::string updateTokenMessage(const std::string& token, double expiresAt);

// An error with a description, as the system hands them out.
Error describedError(std::string description, long code = -1004);

}  // namespace ostrel::drive::helper::testing
