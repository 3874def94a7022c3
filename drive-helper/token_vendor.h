#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive-helper/events.h"
#include "platform/foundation/dispatch_queue.h"
#include "platform/xpc/interface.h"

namespace ostrel::drive::helper {

// The token side of the host link, exported to the extension
// (OstrelDriveHostXPC). Holds the desktop application's latest token and the
// extension's requests that wait for one. All state lives on the main queue;
// the XPC entry points move there first.
class TokenVendor final : public xpc::ExportedObject, public std::enable_shared_from_this<TokenVendor> {
 public:
  using Reply = std::function<void(const std::string& token, double expiresAt)>;

  // A token is handed out only while more than this is left of it, so that
  // the extension does not start a request with a token about to lapse.
  static constexpr double usabilityMargin = 60.0;
  // How long a request waits for the desktop application before it is
  // answered with whatever the vendor holds.
  static constexpr double needTokenGrace = 15.0;

  TokenVendor(std::shared_ptr<DispatchQueue> queue, Emit emit);

  const std::string& token() const { return token_; }
  double expiresAt() const { return expiresAt_; }
  bool usable() const;

  void store(std::string token, double expiresAt);
  // Answers every waiting request with the current token.
  void answerPending();

  // accessTokenWithReply:, on the main queue.
  void accessToken(Reply reply);
  // openURL:, on the main queue.
  void openURL(const std::string& address);

  void invoke(const std::string& selector, const xpc::Arguments& arguments, xpc::ReplyBlock reply) override;

 private:
  std::shared_ptr<DispatchQueue> queue_;
  Emit emit_;
  std::string token_;
  double expiresAt_ = 0;
  std::vector<Reply> pending_;
};

}  // namespace ostrel::drive::helper
