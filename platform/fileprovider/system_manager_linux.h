#pragma once

#include "platform/fileprovider/domain_storage.h"
#include "platform/fileprovider/manager.h"
#include "platform/xpc/interface.h"

namespace ostrel::fileprovider {

// The manager every process gets by default: each request is one round trip
// to the file provider daemon's control service. With the daemon down,
// requests fail with providerNotFound and say so.
class SystemManager final : public Manager {
 public:
  SystemManager(Domain domain, DomainStorage storage) : domain_(std::move(domain)), storage_(std::move(storage)) {}

  void signalEnumerator(const ItemIdentifier& container, ErrorHandler completion) override;
  std::expected<std::filesystem::path, Error> temporaryDirectory() override;
  void getService(const std::string& name, const ItemIdentifier& item,
                  std::function<void(std::shared_ptr<Service>, std::optional<Error>)> completion) override;
  void reimportItems(const ItemIdentifier& below, ErrorHandler completion) override;
  void disconnect(const std::string& reason, uint64_t options, ErrorHandler completion) override;
  void reconnect(ErrorHandler completion) override;
  // What the domain's mount holds that the service does not have yet: the
  // daemon's JSON array of {"name","state"}, oldest first.
  void unsentEdits(std::function<void(std::expected<std::string, Error>)> completion);

 private:
  // Sends one request; the completion gets the reply's arguments before the
  // trailing error, or the error.
  void request(const std::string& selector, xpc::Arguments arguments,
               std::function<void(std::expected<xpc::Arguments, Error>)> completion);
  void requestWithoutResult(const std::string& selector, xpc::Arguments arguments, ErrorHandler completion);

  const Domain domain_;
  const DomainStorage storage_;
};

}  // namespace ostrel::fileprovider
