#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <map>
#include <string_view>
#include <vector>

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "platform/foundation/bundle.h"
#include "platform/usernotifications/notification_server_linux.h"
#include "platform/usernotifications/user_notifications.h"

namespace ostrel {

using namespace usernotifications_linux;

namespace {

// The freedesktop key of a click on the notification itself.
constexpr const char* serverDefaultAction = "default";
// From the freedesktop sound naming: the sound of a new message.
constexpr const char* defaultSoundName = "message-new-instant";

// Tests cannot wait ten minutes; the variable can only shorten the window.
std::chrono::milliseconds windowOfThisRun() {
  const auto window = std::chrono::duration_cast<std::chrono::milliseconds>(UserNotificationCenter::responseWindow);
  const char* text = std::getenv("OSTREL_TEST_HOOK_NOTIFICATION_RESPONSE_WINDOW_MS");
  if (!text) return window;
  const std::string_view digits(text);
  long long milliseconds = 0;
  auto [end, status] = std::from_chars(digits.data(), digits.data() + digits.size(), milliseconds);
  if (status != std::errc() || end != digits.data() + digits.size() || milliseconds < 0) return window;
  return std::min(window, std::chrono::milliseconds(milliseconds));
}

// Low, normal and critical are all the levels a server knows.
uint8_t urgencyFor(InterruptionLevel level) {
  switch (level) {
    case InterruptionLevel::passive:
      return 0;
    case InterruptionLevel::active:
      return 1;
    case InterruptionLevel::timeSensitive:
    case InterruptionLevel::critical:
      return 2;
  }
  return 1;
}

Error notAllowed(const std::string& why) {
  return Error{UserNotificationsError::domain,
               UserNotificationsError::notificationsNotAllowed,
               {{localizedDescriptionKey, "Notifications are not allowed for this application: " + why}}};
}

std::string applicationName() {
  const Bundle& bundle = Bundle::main();
  if (auto name = bundle.infoString("CFBundleName")) return *name;
  return program_invocation_short_name;
}

}  // namespace

struct UserNotificationCenter::Impl {
  explicit Impl(asio::io_context& queue) : queue(queue), window(queue) {}

  void actionInvoked(uint32_t id, const std::string& key) {
    auto found = shown.find(id);
    if (found == shown.end()) return;
    NotificationResponse response{key == serverDefaultAction ? defaultActionIdentifier : key,
                                  found->second.requestIdentifier, found->second.userInfo};
    shown.erase(found);
    if (auto target = delegate.lock()) target->didReceiveNotificationResponse(response, [] {});
  }

  void notificationClosed(uint32_t id) {
    if (shown.erase(id) == 0) return;
    if (shown.empty()) settle();
  }

  // Nothing shown can be clicked through to us any more.
  void connectionLost() {
    shown.clear();
    settle();
  }

  void windowPassed() {
    // A notification left on screen would take a click nobody receives.
    for (const auto& [id, posted] : shown) server->closeNotification(id);
    shown.clear();
    settle();
  }

  void settle() {
    window.cancel();
    auto handlers = std::exchange(whenSettled, {});
    for (auto& handler : handlers) handler();
  }

  struct Posted {
    std::string requestIdentifier;
    NotificationUserInfo userInfo;
  };

  asio::io_context& queue;
  std::weak_ptr<UserNotificationCenterDelegate> delegate;
  std::unique_ptr<NotificationServer> server;  // none when the session bus is out of reach
  std::optional<Error> unreachable;
  std::map<uint32_t, Posted> shown;  // neither answered nor closed yet
  std::vector<std::function<void()>> whenSettled;
  asio::steady_timer window;
  bool windowStarted = false;
};

UserNotificationCenter::UserNotificationCenter(asio::io_context& mainQueue)
    : impl_(std::make_shared<Impl>(mainQueue)) {
  Impl* impl = impl_.get();
  auto server = NotificationServer::connect(
      mainQueue, {.actionInvoked = [impl](uint32_t id, const std::string& key) { impl->actionInvoked(id, key); },
                  .notificationClosed = [impl](uint32_t id, uint32_t) { impl->notificationClosed(id); },
                  .connectionLost = [impl] { impl->connectionLost(); }});
  if (server) {
    impl_->server = std::move(*server);
  } else {
    impl_->unreachable = server.error();
  }
}

UserNotificationCenter::~UserNotificationCenter() = default;

void UserNotificationCenter::setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate) {
  impl_->delegate = std::move(delegate);
}

// There is no permission to ask for: notifications are allowed exactly when
// a notification server answers.
void UserNotificationCenter::requestAuthorization(unsigned /*options*/, AuthorizationCompletion completion) {
  if (!impl_->server) {
    asio::post(impl_->queue, [completion = std::move(completion), why = impl_->unreachable->localizedDescription()] {
      completion(false, notAllowed(why));
    });
    return;
  }
  impl_->server->getCapabilities([completion = std::move(completion)](auto capabilities) {
    if (capabilities) return completion(true, std::nullopt);
    completion(false, notAllowed(capabilities.error().localizedDescription()));
  });
}

void UserNotificationCenter::add(NotificationRequest request, AddCompletion completion) {
  if (!impl_->server) {
    asio::post(impl_->queue, [completion = std::move(completion), error = *impl_->unreachable] { completion(error); });
    return;
  }
  const NotificationContent& content = request.content;
  ServerNotification notification{
      .appName = applicationName(),
      .summary = content.title,
      .body = content.body,
      .actions = {serverDefaultAction, "Open"},
      .urgency = urgencyFor(content.interruptionLevel),
      .soundName = content.sound ? std::optional<std::string>(defaultSoundName) : std::nullopt,
  };
  std::weak_ptr<Impl> weakImpl = impl_;
  impl_->server->notify(notification, [weakImpl, request = std::move(request), completion = std::move(completion)](
                                          std::expected<uint32_t, Error> id) mutable {
    if (!id) return completion(id.error());
    if (auto impl = weakImpl.lock()) {
      impl->shown[*id] = {std::move(request.identifier), std::move(request.content.userInfo)};
    }
    completion(std::nullopt);
  });
}

void UserNotificationCenter::whenNoResponseCanArrive(std::function<void()> handler) {
  if (impl_->shown.empty()) {
    asio::post(impl_->queue, std::move(handler));
    return;
  }
  impl_->whenSettled.push_back(std::move(handler));
  if (impl_->windowStarted) return;
  impl_->windowStarted = true;
  impl_->window.expires_after(windowOfThisRun());
  impl_->window.async_wait([impl = impl_.get()](std::error_code error) {
    if (!error) impl->windowPassed();
  });
}

}  // namespace ostrel
