#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/fileprovider/manager.h"

namespace ostrel::fileprovider::testing {

// A manager that records the signals it gets, answers them at once, and owns
// a temporary directory that it removes when it goes.
class FakeManager final : public Manager {
 public:
  FakeManager();
  ~FakeManager() override;

  void signalEnumerator(const ItemIdentifier& container, std::function<void(std::optional<Error>)> completion) override;
  std::expected<std::filesystem::path, Error> temporaryDirectory() override;

  std::vector<ItemIdentifier> signals() const;
  // Makes every later signal, or the temporary-directory request, fail.
  void failSignalsWith(std::optional<Error> error);
  void failTemporaryDirectoryWith(std::optional<Error> error);
  const std::filesystem::path& directory() const { return directory_; }

 private:
  std::filesystem::path directory_;
  mutable std::mutex mutex_;
  std::vector<ItemIdentifier> signals_;
  std::optional<Error> signalError_;
  std::optional<Error> directoryError_;
};

}  // namespace ostrel::fileprovider::testing
