#pragma once

#include <memory>

#include "platform/xpc/listener.h"

namespace ostrel::fileprovider {

class FileProviderDaemon;

// Accepts manager connections and answers their requests for the daemon.
// Holds the daemon weakly: a request arriving while it shuts down fails.
class ControlService final : public xpc::ListenerDelegate,
                             public xpc::ExportedObject,
                             public std::enable_shared_from_this<ControlService> {
 public:
  explicit ControlService(std::weak_ptr<FileProviderDaemon> daemon) : daemon_(std::move(daemon)) {}

  bool shouldAcceptNewConnection(std::shared_ptr<xpc::Connection> connection) override;
  void invoke(const std::string& selector, const xpc::Arguments& arguments, xpc::ReplyBlock reply) override;

 private:
  std::weak_ptr<FileProviderDaemon> daemon_;
};

}  // namespace ostrel::fileprovider
