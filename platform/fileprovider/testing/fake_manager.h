#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileprovider/manager.h"

namespace ostrel::fileprovider::testing {

// A manager that records every request it gets and answers at once, on the
// calling thread, with what the test scripted (success unless told
// otherwise). It owns a temporary directory that it removes when it goes.
class FakeManager final : public Manager {
 public:
  FakeManager();
  ~FakeManager() override;

  void signalEnumerator(const ItemIdentifier& container, ErrorHandler completion) override;
  std::expected<std::filesystem::path, Error> temporaryDirectory() override;
  void getService(const std::string& name, const ItemIdentifier& item,
                  std::function<void(std::shared_ptr<Service> service, std::optional<Error> error)> completion) override;
  void reimportItems(const ItemIdentifier& below, ErrorHandler completion) override;
  void disconnect(const std::string& reason, uint64_t options, ErrorHandler completion) override;
  void reconnect(ErrorHandler completion) override;

  struct ServiceRequest {
    std::string name;
    ItemIdentifier item;
  };
  struct DisconnectRequest {
    std::string reason;
    uint64_t options = 0;
  };

  std::vector<ItemIdentifier> signals() const;
  std::vector<ServiceRequest> serviceRequests() const;
  std::vector<ItemIdentifier> reimports() const;
  std::vector<DisconnectRequest> disconnects() const;
  size_t reconnects() const;

  // Makes every later signal, or the temporary-directory request, fail.
  void failSignalsWith(std::optional<Error> error);
  void failTemporaryDirectoryWith(std::optional<Error> error);
  // What getService answers from now on (at first: no service and no error).
  void answerServiceWith(std::shared_ptr<Service> service, std::optional<Error> error = std::nullopt);
  void failReimportsWith(std::optional<Error> error);
  void failDisconnectsWith(std::optional<Error> error);
  void failReconnectsWith(std::optional<Error> error);
  const std::filesystem::path& directory() const { return directory_; }

 private:
  std::filesystem::path directory_;
  mutable std::mutex mutex_;
  std::vector<ItemIdentifier> signals_;
  std::vector<ServiceRequest> serviceRequests_;
  std::vector<ItemIdentifier> reimports_;
  std::vector<DisconnectRequest> disconnects_;
  size_t reconnects_ = 0;
  std::optional<Error> signalError_;
  std::optional<Error> directoryError_;
  std::shared_ptr<Service> service_;
  std::optional<Error> serviceError_;
  std::optional<Error> reimportError_;
  std::optional<Error> disconnectError_;
  std::optional<Error> reconnectError_;
};

}  // namespace ostrel::fileprovider::testing
