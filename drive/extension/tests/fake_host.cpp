#include "drive/extension/tests/fake_host.h"

#include "drive/shared/host_link.h"

namespace ostrel::drive::testing {

struct FakeHost::State {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::string token;
  double expiresAt = 0;
  bool hold = false;
  int tokenRequests = 0;
  std::vector<std::string> opened;
  std::vector<xpc::ReplyBlock> held;
  bool invalidated = false;
};

class FakeHost::Responder final : public xpc::ExportedObject {
 public:
  explicit Responder(std::shared_ptr<State> state) : state_(std::move(state)) {}

  void invoke(const std::string& selector, const xpc::Arguments& arguments, xpc::ReplyBlock reply) override {
    std::unique_lock lock(state_->mutex);
    if (selector == DriveHostXPC::accessTokenWithReply) {
      ++state_->tokenRequests;
      if (state_->hold) {
        state_->held.push_back(std::move(reply));
      } else {
        auto answer = xpc::Arguments{state_->token, state_->expiresAt};
        lock.unlock();
        reply(std::move(answer));
        lock.lock();
      }
    } else if (selector == DriveHostXPC::openURL && !arguments.empty()) {
      state_->opened.push_back(std::get<std::string>(arguments[0]));
    }
    state_->changed.notify_all();
  }

 private:
  std::shared_ptr<State> state_;
};

std::unique_ptr<FakeHost> FakeHost::connect(const xpc::ListenerEndpoint& endpoint) {
  std::unique_ptr<FakeHost> host(new FakeHost());
  host->state_ = std::make_shared<State>();
  host->connection_ = xpc::Connection::create(endpoint);
  host->connection_->setExportedInterface(DriveHostXPC::interface());
  host->connection_->setExportedObject(std::make_shared<Responder>(host->state_));
  host->connection_->setRemoteObjectInterface(DriveExtensionXPC::interface());
  host->connection_->setInvalidationHandler([state = host->state_] {
    std::lock_guard lock(state->mutex);
    state->invalidated = true;
    state->held.clear();
    state->changed.notify_all();
  });
  host->connection_->resume();
  return host;
}

FakeHost::~FakeHost() {
  invalidate();
}

void FakeHost::answerTokensWith(std::string token, double expiresAt) {
  std::lock_guard lock(state_->mutex);
  state_->token = std::move(token);
  state_->expiresAt = expiresAt;
  state_->hold = false;
}

void FakeHost::holdTokenRequests() {
  std::lock_guard lock(state_->mutex);
  state_->hold = true;
}

int FakeHost::tokenRequests() const {
  std::lock_guard lock(state_->mutex);
  return state_->tokenRequests;
}

std::vector<std::string> FakeHost::openedURLs() const {
  std::lock_guard lock(state_->mutex);
  return state_->opened;
}

bool FakeHost::waitForOpenedURLs(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->opened.size() >= count; });
}

std::optional<std::string> FakeHost::attach() {
  struct Reply {
    std::mutex mutex;
    std::condition_variable ready;
    std::optional<std::optional<std::string>> value;
  };
  auto reply = std::make_shared<Reply>();
  auto settle = [reply](std::optional<std::string> value) {
    std::lock_guard lock(reply->mutex);
    if (!reply->value) reply->value = std::move(value);
    reply->ready.notify_all();
  };
  auto proxy = connection_->remoteObjectProxyWithErrorHandler([settle](Error) { settle(std::nullopt); });
  proxy.send(DriveExtensionXPC::attachWithReply, {}, [settle](xpc::Arguments arguments) {
    const auto* id = arguments.empty() ? nullptr : std::get_if<std::string>(&arguments[0]);
    settle(id ? std::optional(*id) : std::nullopt);
  });
  std::unique_lock lock(reply->mutex);
  if (!reply->ready.wait_for(lock, std::chrono::seconds(10), [&] { return reply->value.has_value(); })) return std::nullopt;
  return *reply->value;
}

void FakeHost::updateToken(const std::string& token, double expiresAt) {
  connection_->remoteObjectProxyWithErrorHandler([](Error) {}).send(DriveExtensionXPC::updateTokenExpiresAt,
                                                                     {token, expiresAt});
}

void FakeHost::signalChangedEnumerators() {
  connection_->remoteObjectProxyWithErrorHandler([](Error) {}).send(DriveExtensionXPC::signalChangedEnumerators, {});
}

void FakeHost::invalidate() {
  if (connection_) connection_->invalidate();
}

bool FakeHost::waitUntilInvalidated(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->invalidated; });
}

}  // namespace ostrel::drive::testing
