#include "drive-helper/token_vendor.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "drive/shared/host_link.h"

namespace ostrel::drive::helper {

TokenVendor::TokenVendor(std::shared_ptr<DispatchQueue> queue, Emit emit)
    : queue_(std::move(queue)), emit_(std::move(emit)) {}

bool TokenVendor::usable() const {
  return !token_.empty() && expiresAt_ > queue_->now() + usabilityMargin;
}

void TokenVendor::store(std::string token, double expiresAt) {
  token_ = std::move(token);
  expiresAt_ = expiresAt;
}

void TokenVendor::answerPending() {
  auto waiting = std::exchange(pending_, {});
  for (auto& reply : waiting) reply(token_, expiresAt_);
}

void TokenVendor::accessToken(Reply reply) {
  if (usable()) {
    reply(token_, expiresAt_);
    return;
  }
  pending_.push_back(std::move(reply));
  emit_({{"event", "need_token"}});
  // Each request has its own grace; a flush that finds the list already
  // answered does nothing.
  std::weak_ptr<TokenVendor> weakSelf = weak_from_this();
  queue_->asyncAfter(needTokenGrace, [weakSelf] {
    if (auto self = weakSelf.lock()) self->answerPending();
  });
}

void TokenVendor::openURL(const std::string& address) {
  emit_({{"event", "open-url"}, {"url", address}});
}

void TokenVendor::invoke(const std::string& selector, const xpc::Arguments& arguments, xpc::ReplyBlock reply) {
  std::weak_ptr<TokenVendor> weakSelf = weak_from_this();
  if (selector == DriveHostXPC::accessTokenWithReply && reply) {
    queue_->async([weakSelf, reply = std::move(reply)] {
      auto self = weakSelf.lock();
      if (!self) return;
      self->accessToken([reply](const std::string& token, double expiresAt) { reply({token, expiresAt}); });
    });
  } else if (selector == DriveHostXPC::openURL && arguments.size() == 1) {
    const auto* address = std::get_if<std::string>(&arguments[0]);
    if (!address) return;
    queue_->async([weakSelf, address = *address] {
      if (auto self = weakSelf.lock()) self->openURL(address);
    });
  }
}

}  // namespace ostrel::drive::helper
