#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileprovider/observers.h"

namespace ostrel::fileprovider::testing {

// Records one listing; wait() blocks until it finished (bounded).
class RecordingEnumerationObserver final : public EnumerationObserver {
 public:
  explicit RecordingEnumerationObserver(std::optional<long> suggestedPageSize = std::nullopt)
      : suggested_(suggestedPageSize) {}

  void didEnumerateItems(std::vector<ItemPtr> items) override;
  void finishEnumeratingUpToPage(std::optional<Page> nextPage) override;
  void finishEnumeratingWithError(Error error) override;
  std::optional<long> suggestedPageSize() const override { return suggested_; }

  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::vector<ItemPtr> items() const;
  int didEnumerateCalls() const;
  int finishCalls() const;
  std::optional<Page> nextPage() const;
  std::optional<Error> error() const;

 private:
  std::optional<long> suggested_;
  mutable std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<ItemPtr> items_;
  int didEnumerateCalls_ = 0;
  int finishCalls_ = 0;
  std::optional<Page> nextPage_;
  std::optional<Error> error_;
};

// Records one change batch, with the order of the calls.
class RecordingChangeObserver final : public ChangeObserver {
 public:
  explicit RecordingChangeObserver(std::optional<long> suggestedBatchSize = std::nullopt)
      : suggested_(suggestedBatchSize) {}

  void didUpdateItems(std::vector<ItemPtr> items) override;
  void didDeleteItemsWithIdentifiers(std::vector<ItemIdentifier> identifiers) override;
  void finishEnumeratingChangesUpToSyncAnchor(SyncAnchor anchor, bool moreComing) override;
  void finishEnumeratingWithError(Error error) override;
  std::optional<long> suggestedBatchSize() const override { return suggested_; }

  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // "update", "delete", "finish", "error", in the order they came.
  std::vector<std::string> calls() const;
  std::vector<ItemPtr> updated() const;
  std::vector<ItemIdentifier> deleted() const;
  std::optional<SyncAnchor> anchor() const;
  bool moreComing() const;
  std::optional<Error> error() const;

 private:
  std::optional<long> suggested_;
  mutable std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<std::string> calls_;
  std::vector<ItemPtr> updated_;
  std::vector<ItemIdentifier> deleted_;
  std::optional<SyncAnchor> anchor_;
  bool moreComing_ = false;
  std::optional<Error> error_;
};

}  // namespace ostrel::fileprovider::testing
