#include "notifier/app_delegate.h"

#include "notifier/click_url.h"
#include "notifier/payload.h"
#include "platform/foundation/uuid.h"

namespace ostrel::notifier {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds afterCompletion = 500ms;
constexpr std::chrono::milliseconds afterClick = 1s;
constexpr std::chrono::milliseconds withoutPayload = 5s;

constexpr unsigned alertAndSound = authorizationOptionAlert | authorizationOptionSound;
constexpr const char* targetKey = "to";

}  // namespace

AppDelegate::AppDelegate(UserNotificationCenter& center, Workspace& workspace, ScheduledExits& exits,
                         std::vector<std::string> arguments)
    : center_(center), workspace_(workspace), exits_(exits), arguments_(std::move(arguments)) {}

void AppDelegate::applicationDidFinishLaunching() {
  center_.setDelegate(weak_from_this());
  const auto payload = payloadFromArguments(arguments_);
  if (!payload) return exitAfter(withoutPayload);
  if (payload->request) {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    center_.requestAuthorization(alertAndSound, [weak](bool, std::optional<Error>) {
      if (auto self = weak.lock()) self->exitAfter(afterCompletion);
    });
    return;
  }
  if (payload->title && payload->body) return post(*payload->title, *payload->body, payload->target, payload->timeSensitive);
  exitAfter(withoutPayload);
}

void AppDelegate::post(std::string title, std::string body, std::optional<std::string> target, bool timeSensitive) {
  std::weak_ptr<AppDelegate> weak = weak_from_this();
  center_.requestAuthorization(alertAndSound, [weak, title = std::move(title), body = std::move(body),
                                               target = std::move(target), timeSensitive](bool granted,
                                                                                          std::optional<Error>) {
    auto self = weak.lock();
    if (!self) return;
    if (!granted) return self->exitAfter(afterCompletion);
    NotificationContent content{
        .title = title,
        .body = body,
        .sound = NotificationSound::defaultSound,
        .interruptionLevel = timeSensitive ? InterruptionLevel::timeSensitive : InterruptionLevel::active,
    };
    if (target) content.userInfo[targetKey] = *target;
    self->center_.add({makeUUIDString(), std::move(content)}, [weak](std::optional<Error>) {
      auto self = weak.lock();
      if (!self) return;
      // Where a click only reaches a running sender, stay for it.
      self->center_.whenNoResponseCanArrive([weak] {
        if (auto self = weak.lock()) self->exitAfter(afterCompletion);
      });
    });
  });
}

void AppDelegate::didReceiveNotificationResponse(const NotificationResponse& response,
                                                 std::function<void()> completionHandler) {
  if (auto target = response.userInfo.find(targetKey); target != response.userInfo.end()) forward(target->second);
  completionHandler();
  exitAfter(afterClick);
}

void AppDelegate::forward(const std::string& target) {
  if (auto url = clickURL(urlScheme(), target)) workspace_.openURL(*url);
}

}  // namespace ostrel::notifier
