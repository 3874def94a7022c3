#include "drive-helper/tests/helper_fixture.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "drive/shared/host_link.h"

namespace ostrel::drive::helper::testing {

namespace fs = std::filesystem;

TemporaryHome::TemporaryHome() {
  std::string pattern = (fs::temp_directory_path() / "ostrel-helper-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  root_ = pattern;
  home_ = root_ / "home";
  xpc_ = root_ / "xpc";
  fs::create_directories(home_);
  fs::create_directory(xpc_);
  fs::permissions(xpc_, fs::perms::owner_all, fs::perm_options::replace);
  const std::map<std::string, std::string> values{{"OSTREL_HOME", home_.string()}, {"OSTREL_XPC_DIR", xpc_.string()}};
  for (const auto& [name, value] : values) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

TemporaryHome::~TemporaryHome() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string updateTokenMessage(const std::string& token, double expiresAt) {
  return "updateToken " + json::Value(token).dump() + " " + json::Value(expiresAt).dump();
}

Error describedError(std::string description, long code) {
  return Error{FileProviderError::domain, code, {{localizedDescriptionKey, std::move(description)}}};
}

// --- the fake extension ----------------------------------------------------

struct FakeExtension::State : xpc::ListenerDelegate, xpc::ExportedObject, std::enable_shared_from_this<State> {
  Mailbox<std::string> received;
  Mailbox<std::pair<std::string, double>> tokenAnswers;
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<xpc::Connection>> connections;

  bool shouldAcceptNewConnection(std::shared_ptr<xpc::Connection> connection) override {
    connection->setExportedInterface(DriveExtensionXPC::interface());
    connection->setRemoteObjectInterface(DriveHostXPC::interface());
    // A cycle until the connection ends: dropConnections() ends them all.
    connection->setExportedObject(shared_from_this());
    connection->resume();
    std::lock_guard lock(mutex);
    connections.push_back(connection);
    return true;
  }

  void invoke(const std::string& selector, const xpc::Arguments& arguments, xpc::ReplyBlock reply) override {
    if (selector == DriveExtensionXPC::attachWithReply) {
      received.put("attach");
      if (reply) reply({"local.ostrel.drive.extension"});
    } else if (selector == DriveExtensionXPC::updateTokenExpiresAt && arguments.size() == 2) {
      const auto* token = std::get_if<std::string>(&arguments[0]);
      const auto* expiry = std::get_if<double>(&arguments[1]);
      received.put(updateTokenMessage(token ? *token : "<bad>", expiry ? *expiry : -1.0));
    } else if (selector == DriveExtensionXPC::signalChangedEnumerators) {
      received.put("signal");
    } else {
      received.put("unexpected " + selector);
    }
  }

  std::shared_ptr<xpc::Connection> newest() const {
    std::lock_guard lock(mutex);
    return connections.empty() ? nullptr : connections.back();
  }
};

std::shared_ptr<FakeExtension> FakeExtension::create() {
  auto listener = xpc::Listener::anonymous();
  if (!listener) return nullptr;
  std::shared_ptr<FakeExtension> extension(new FakeExtension());
  extension->state_ = std::make_shared<State>();
  extension->listener_ = *listener;
  extension->delegate_ = extension->state_;
  extension->listener_->setDelegate(extension->delegate_);
  extension->listener_->resume();
  return extension;
}

FakeExtension::~FakeExtension() {
  listener_->invalidate();
  dropConnections();
}

xpc::ListenerEndpoint FakeExtension::endpoint() const {
  return listener_->endpoint();
}

Mailbox<std::string>& FakeExtension::received() {
  return state_->received;
}

size_t FakeExtension::connectionsAccepted() const {
  std::lock_guard lock(state_->mutex);
  return state_->connections.size();
}

Mailbox<std::pair<std::string, double>>& FakeExtension::tokenAnswers() {
  return state_->tokenAnswers;
}

void FakeExtension::requestToken() {
  auto connection = state_->newest();
  ASSERT_TRUE(connection);
  // The answer may come after the test is over, when the connection ends.
  std::weak_ptr<State> weakState = state_;
  auto answer = [weakState](std::pair<std::string, double> value) {
    if (auto state = weakState.lock()) state->tokenAnswers.put(std::move(value));
  };
  connection->remoteObjectProxyWithErrorHandler([answer](Error) { answer({"<error>", -1}); })
      .send(DriveHostXPC::accessTokenWithReply, {}, [answer](xpc::Arguments reply) {
        const auto* token = reply.size() == 2 ? std::get_if<std::string>(&reply[0]) : nullptr;
        const auto* expiry = reply.size() == 2 ? std::get_if<double>(&reply[1]) : nullptr;
        answer({token ? *token : "<bad>", expiry ? *expiry : -1});
      });
}

void FakeExtension::openURL(const std::string& address) {
  auto connection = state_->newest();
  ASSERT_TRUE(connection);
  connection->remoteObjectProxyWithErrorHandler([](Error) {}).send(DriveHostXPC::openURL, {address});
}

void FakeExtension::dropConnections() {
  std::vector<std::shared_ptr<xpc::Connection>> connections;
  {
    std::lock_guard lock(state_->mutex);
    connections = state_->connections;
  }
  for (auto& connection : connections) connection->invalidate();
}

// --- services --------------------------------------------------------------

std::string EndpointService::name() const {
  return driveServiceName;
}

void EndpointService::getFileProviderConnection(
    std::function<void(std::shared_ptr<xpc::Connection>, std::optional<Error>)> completion) {
  completion(xpc::Connection::create(endpoint_), std::nullopt);
}

std::string BrokenService::name() const {
  return driveServiceName;
}

void BrokenService::getFileProviderConnection(
    std::function<void(std::shared_ptr<xpc::Connection>, std::optional<Error>)> completion) {
  completion(nullptr, error_);
}

// --- the host fixture ------------------------------------------------------

HostTest::HostTest() {
  domains_ = {fileprovider::Domain{.identifier = domainID, .displayName = "Matters"}};
}

HostTest::~HostTest() {
  host_.reset();
  extension_.reset();
}

Host& HostTest::host(bool withDefaults) {
  if (!host_) {
    host_ = Host::create({
        .manager = manager_,
        .domainID = domainID,
        .queue = queue_,
        .listDomains =
            [this](auto completion) {
              std::vector<fileprovider::Domain> domains;
              {
                std::lock_guard lock(mutex_);
                domains = domains_;
              }
              completion(std::move(domains), std::nullopt);
            },
        .defaults = withDefaults ? UserDefaults::suite("GROUP.local.ostrel.desktop") : std::nullopt,
        .emit =
            [this](const json::Value& event) {
              std::lock_guard lock(mutex_);
              events_.push_back(event);
            },
    });
  }
  return *host_;
}

std::vector<json::Value> HostTest::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<json::Value> HostTest::events(const std::string& name) const {
  std::vector<json::Value> named;
  for (auto& event : events()) {
    if (event.value("event", "") == name) named.push_back(event);
  }
  return named;
}

void HostTest::clearEvents() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

bool HostTest::runUntilEvent(const std::string& name, size_t times) {
  return queue_->runUntil([&] { return events(name).size() >= times; });
}

void HostTest::setDomains(std::vector<fileprovider::Domain> domains) {
  std::lock_guard lock(mutex_);
  domains_ = std::move(domains);
}

void HostTest::attach() {
  if (!extension_) extension_ = FakeExtension::create();
  ASSERT_TRUE(extension_);
  manager_->answerServiceWith(std::make_shared<EndpointService>(extension_->endpoint()));
  host().connect();
  ASSERT_TRUE(runUntilEvent("attached"));
}

void HostTest::send(const std::string& line) {
  host().handle(json::Value::parse(line));
  queue_->runReady();
}

std::vector<std::string> HostTest::receivedThrough(const std::string& last) {
  std::vector<std::string> seen;
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (std::chrono::steady_clock::now() < deadline) {
    queue_->runReady();
    if (auto message = extension_->received().take(std::chrono::milliseconds(20))) {
      seen.push_back(*message);
      if (*message == last) return seen;
    }
  }
  ADD_FAILURE() << "the extension never received " << last;
  return seen;
}

}  // namespace ostrel::drive::helper::testing
