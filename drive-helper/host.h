#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive-helper/events.h"
#include "drive-helper/token_vendor.h"
#include "platform/fileprovider/domain.h"
#include "platform/fileprovider/manager.h"
#include "platform/foundation/dispatch_queue.h"
#include "platform/foundation/error.h"
#include "platform/foundation/user_defaults.h"
#include "platform/xpc/connection.h"

namespace ostrel::drive::helper {

// getDomainsWithCompletionHandler: of the manager class.
using DomainLister =
    std::function<void(std::function<void(std::vector<fileprovider::Domain> domains, std::optional<Error> error)>)>;

// The serve loop's side of the host link: keeps one connection to the
// domain's extension, carries tokens and refresh requests to it, and turns the
// desktop application's messages into manager requests. Everything runs on
// the main queue; completions and XPC callbacks move there first.
class Host : public std::enable_shared_from_this<Host> {
 public:
  struct Parts {
    std::shared_ptr<fileprovider::Manager> manager;
    std::string domainID;
    std::shared_ptr<DispatchQueue> queue;
    DomainLister listDomains;
    // The application group's suite; none when it cannot be opened.
    std::optional<UserDefaults> defaults;
    Emit emit;
  };

  static constexpr double initialBackoff = 2.0;
  static constexpr double backoffCeiling = 60.0;

  static std::shared_ptr<Host> create(Parts parts);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Reports status, connects, and re-imports the tree if its layout is old.
  void start();
  // One message of the desktop application.
  void handle(const json::Value& message);

  void connect();
  void status();
  void signal();
  void push();
  void reimportIfLayoutChanged();

  const TokenVendor& vendor() const { return *vendor_; }
  bool connected() const { return connection_ != nullptr; }

 private:
  explicit Host(Parts parts);

  void adopt(std::shared_ptr<xpc::Connection> connection);
  void retry(std::optional<std::string> message);
  void receiveToken(const json::Value& message);
  // Calls the extension when there is a connection that speaks its protocol.
  void sendToExtension(const std::string& selector, xpc::Arguments arguments = {}, xpc::ReplyBlock reply = {});
  // Runs `work` on the main queue, while the host still exists.
  std::function<void()> onMainQueue(std::function<void(Host&)> work);
  void emitError(std::string message);

  Parts parts_;
  std::shared_ptr<TokenVendor> vendor_;
  std::shared_ptr<xpc::Connection> connection_;
  double backoff_ = initialBackoff;
};

}  // namespace ostrel::drive::helper
