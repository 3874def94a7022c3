#include "platform/usernotifications/notification_server_linux.h"

#include <asio/post.hpp>

namespace ostrel::usernotifications_linux {

namespace {

constexpr const char* serverName = "org.freedesktop.Notifications";
constexpr const char* serverPath = "/org/freedesktop/Notifications";
constexpr const char* serverInterface = "org.freedesktop.Notifications";
// A server that has not answered by then is taken as absent.
constexpr uint64_t callTimeoutUsec = 10'000'000;

Error replyError(sd_bus_message* reply) {
  const sd_bus_error* error = sd_bus_message_get_error(reply);
  const int errnoValue = sd_bus_error_get_errno(error);
  Error result = POSIXError::make(errnoValue > 0 ? errnoValue : EIO);
  result.userInfo[localizedDescriptionKey] =
      std::string("the notification server did not answer: ") + (error && error->message ? error->message : "");
  if (error && error->name) result.userInfo["DBusErrorName"] = error->name;
  return result;
}

int appendHint(sd_bus_message* message, const char* key, const char* type, const void* value) {
  int r = sd_bus_message_open_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv");
  if (r >= 0) r = sd_bus_message_append_basic(message, SD_BUS_TYPE_STRING, key);
  if (r >= 0) r = sd_bus_message_open_container(message, SD_BUS_TYPE_VARIANT, type);
  if (r >= 0) r = sd_bus_message_append_basic(message, type[0], value);
  if (r >= 0) r = sd_bus_message_close_container(message);
  if (r >= 0) r = sd_bus_message_close_container(message);
  return r;
}

int appendNotify(sd_bus_message* message, const ServerNotification& n) {
  const uint32_t replacesNone = 0;
  int r = sd_bus_message_append(message, "susss", n.appName.c_str(), replacesNone, "", n.summary.c_str(), n.body.c_str());
  if (r >= 0) r = sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "s");
  for (const auto& action : n.actions) {
    if (r >= 0) r = sd_bus_message_append_basic(message, SD_BUS_TYPE_STRING, action.c_str());
  }
  if (r >= 0) r = sd_bus_message_close_container(message);
  if (r >= 0) r = sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "{sv}");
  if (r >= 0) r = appendHint(message, "urgency", "y", &n.urgency);
  if (r >= 0 && n.soundName) r = appendHint(message, "sound-name", "s", n.soundName->c_str());
  if (r >= 0) r = sd_bus_message_close_container(message);
  // -1: the server's own expiry.
  if (r >= 0) r = sd_bus_message_append(message, "i", int32_t{-1});
  return r;
}

}  // namespace

NotificationServer::NotificationServer(asio::io_context& queue, BusConnection bus, Signals signals)
    : queue_(queue),
      bus_(std::move(bus)),
      signals_(std::move(signals)),
      dispatcher_(std::make_unique<BusDispatcher>(queue, bus_.get(), [this] {
        if (signals_.connectionLost) signals_.connectionLost();
      })) {}

NotificationServer::~NotificationServer() = default;

std::expected<std::unique_ptr<NotificationServer>, Error> NotificationServer::connect(asio::io_context& queue,
                                                                                      Signals signals) {
  auto bus = openUserBus();
  if (!bus) return std::unexpected(bus.error());
  std::unique_ptr<NotificationServer> server(new NotificationServer(queue, std::move(*bus), std::move(signals)));
  if (auto subscribed = server->subscribe(); !subscribed) return std::unexpected(subscribed.error());
  return server;
}

// By path and interface, not sender: the server's well-known name cannot be
// matched locally, and the ids we act on are only ever our own.
std::expected<void, Error> NotificationServer::subscribe() {
  int r = sd_bus_match_signal(bus_.get(), actionMatch_.out(), nullptr, serverPath, serverInterface, "ActionInvoked",
                              &NotificationServer::actionInvoked, this);
  if (r >= 0) {
    r = sd_bus_match_signal(bus_.get(), closedMatch_.out(), nullptr, serverPath, serverInterface,
                            "NotificationClosed", &NotificationServer::notificationClosed, this);
  }
  if (r < 0) return std::unexpected(busError(r, "cannot follow the notification server"));
  return {};
}

void NotificationServer::call(BusMessage message, ReplyHandler onReply) {
  auto& entry = pending_.emplace_back(PendingCall{this, {}, std::move(onReply)});
  int r = sd_bus_call_async(bus_.get(), entry.slot.out(), message.get(), &NotificationServer::replied, &entry,
                            callTimeoutUsec);
  if (r < 0) {
    // Reported from the queue like any reply, never from inside the caller.
    asio::post(queue_, [onReply = std::move(entry.onReply), r] {
      onReply(std::unexpected(busError(r, "cannot reach the notification server")));
    });
    pending_.pop_back();
    return;
  }
  dispatcher_->wake();
}

int NotificationServer::replied(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* entry = static_cast<PendingCall*>(userdata);
  auto onReply = std::move(entry->onReply);
  // sd-bus keeps its own reference to the slot while this runs, so the entry can go.
  entry->owner->pending_.remove_if([entry](const PendingCall& call) { return &call == entry; });
  if (sd_bus_message_is_method_error(reply, nullptr)) {
    onReply(std::unexpected(replyError(reply)));
  } else {
    onReply(reply);
  }
  return 0;
}

void NotificationServer::getCapabilities(std::function<void(std::expected<std::vector<std::string>, Error>)> reply) {
  BusMessage message;
  int r = sd_bus_message_new_method_call(bus_.get(), message.out(), serverName, serverPath, serverInterface,
                                         "GetCapabilities");
  if (r < 0) return reply(std::unexpected(busError(r, "cannot ask the notification server")));
  call(std::move(message), [reply = std::move(reply)](std::expected<sd_bus_message*, Error> result) {
    if (!result) return reply(std::unexpected(result.error()));
    sd_bus_message* answer = *result;
    std::vector<std::string> capabilities;
    int r = sd_bus_message_enter_container(answer, SD_BUS_TYPE_ARRAY, "s");
    const char* capability = nullptr;
    while (r >= 0 && (r = sd_bus_message_read_basic(answer, SD_BUS_TYPE_STRING, &capability)) > 0) {
      capabilities.emplace_back(capability);
    }
    if (r < 0) return reply(std::unexpected(busError(r, "unreadable capabilities")));
    reply(std::move(capabilities));
  });
}

void NotificationServer::notify(const ServerNotification& notification,
                                std::function<void(std::expected<uint32_t, Error>)> reply) {
  BusMessage message;
  int r = sd_bus_message_new_method_call(bus_.get(), message.out(), serverName, serverPath, serverInterface, "Notify");
  if (r >= 0) r = appendNotify(message.get(), notification);
  if (r < 0) return reply(std::unexpected(busError(r, "cannot build the notification")));
  call(std::move(message), [reply = std::move(reply)](std::expected<sd_bus_message*, Error> result) {
    if (!result) return reply(std::unexpected(result.error()));
    uint32_t id = 0;
    if (int r = sd_bus_message_read_basic(*result, SD_BUS_TYPE_UINT32, &id); r <= 0) {
      return reply(std::unexpected(busError(r < 0 ? r : -EBADMSG, "unreadable notification id")));
    }
    reply(id);
  });
}

void NotificationServer::closeNotification(uint32_t id) {
  BusMessage message;
  if (sd_bus_message_new_method_call(bus_.get(), message.out(), serverName, serverPath, serverInterface,
                                     "CloseNotification") < 0 ||
      sd_bus_message_append_basic(message.get(), SD_BUS_TYPE_UINT32, &id) < 0) {
    return;
  }
  // No reply is needed; the queued message goes out at the latest when the connection closes.
  sd_bus_message_set_expect_reply(message.get(), 0);
  sd_bus_send(bus_.get(), message.get(), nullptr);
  dispatcher_->wake();
}

int NotificationServer::actionInvoked(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* self = static_cast<NotificationServer*>(userdata);
  uint32_t id = 0;
  const char* key = nullptr;
  if (sd_bus_message_read(message, "us", &id, &key) > 0 && self->signals_.actionInvoked) {
    self->signals_.actionInvoked(id, key);
  }
  return 0;
}

int NotificationServer::notificationClosed(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* self = static_cast<NotificationServer*>(userdata);
  uint32_t id = 0;
  uint32_t reason = 0;
  if (sd_bus_message_read(message, "uu", &id, &reason) > 0 && self->signals_.notificationClosed) {
    self->signals_.notificationClosed(id, reason);
  }
  return 0;
}

}  // namespace ostrel::usernotifications_linux
