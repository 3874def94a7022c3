#include "platform/fileprovider/testing/fake_manager.h"

#include <stdlib.h>

namespace ostrel::fileprovider::testing {

FakeManager::FakeManager() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-manager-XXXXXX").string();
  if (mkdtemp(pattern.data())) directory_ = pattern;
}

FakeManager::~FakeManager() {
  std::error_code ignored;
  if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
}

void FakeManager::signalEnumerator(const ItemIdentifier& container, ErrorHandler completion) {
  std::optional<Error> error;
  {
    std::lock_guard lock(mutex_);
    signals_.push_back(container);
    error = signalError_;
  }
  if (completion) completion(error);
}

std::expected<std::filesystem::path, Error> FakeManager::temporaryDirectory() {
  std::lock_guard lock(mutex_);
  if (directoryError_) return std::unexpected(*directoryError_);
  return directory_;
}

void FakeManager::getService(const std::string& name, const ItemIdentifier& item,
                             std::function<void(std::shared_ptr<Service>, std::optional<Error>)> completion) {
  std::shared_ptr<Service> service;
  std::optional<Error> error;
  {
    std::lock_guard lock(mutex_);
    serviceRequests_.push_back({name, item});
    service = service_;
    error = serviceError_;
  }
  if (completion) completion(std::move(service), std::move(error));
}

void FakeManager::reimportItems(const ItemIdentifier& below, ErrorHandler completion) {
  std::optional<Error> error;
  {
    std::lock_guard lock(mutex_);
    reimports_.push_back(below);
    error = reimportError_;
  }
  if (completion) completion(std::move(error));
}

void FakeManager::disconnect(const std::string& reason, uint64_t options, ErrorHandler completion) {
  std::optional<Error> error;
  {
    std::lock_guard lock(mutex_);
    disconnects_.push_back({reason, options});
    error = disconnectError_;
  }
  if (completion) completion(std::move(error));
}

void FakeManager::reconnect(ErrorHandler completion) {
  std::optional<Error> error;
  {
    std::lock_guard lock(mutex_);
    ++reconnects_;
    error = reconnectError_;
  }
  if (completion) completion(std::move(error));
}

std::vector<ItemIdentifier> FakeManager::signals() const {
  std::lock_guard lock(mutex_);
  return signals_;
}

std::vector<FakeManager::ServiceRequest> FakeManager::serviceRequests() const {
  std::lock_guard lock(mutex_);
  return serviceRequests_;
}

std::vector<ItemIdentifier> FakeManager::reimports() const {
  std::lock_guard lock(mutex_);
  return reimports_;
}

std::vector<FakeManager::DisconnectRequest> FakeManager::disconnects() const {
  std::lock_guard lock(mutex_);
  return disconnects_;
}

size_t FakeManager::reconnects() const {
  std::lock_guard lock(mutex_);
  return reconnects_;
}

void FakeManager::failSignalsWith(std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  signalError_ = std::move(error);
}

void FakeManager::failTemporaryDirectoryWith(std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  directoryError_ = std::move(error);
}

void FakeManager::answerServiceWith(std::shared_ptr<Service> service, std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  service_ = std::move(service);
  serviceError_ = std::move(error);
}

void FakeManager::failReimportsWith(std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  reimportError_ = std::move(error);
}

void FakeManager::failDisconnectsWith(std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  disconnectError_ = std::move(error);
}

void FakeManager::failReconnectsWith(std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  reconnectError_ = std::move(error);
}

}  // namespace ostrel::fileprovider::testing
