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

void FakeManager::signalEnumerator(const ItemIdentifier& container,
                                   std::function<void(std::optional<Error>)> completion) {
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

std::vector<ItemIdentifier> FakeManager::signals() const {
  std::lock_guard lock(mutex_);
  return signals_;
}

void FakeManager::failSignalsWith(std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  signalError_ = std::move(error);
}

void FakeManager::failTemporaryDirectoryWith(std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  directoryError_ = std::move(error);
}

}  // namespace ostrel::fileprovider::testing
