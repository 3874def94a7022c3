#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/fileprovider/item.h"
#include "platform/fileprovider/page.h"
#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

// Receives one page of a listing. Exactly one finish call ends it.
class EnumerationObserver {
 public:
  virtual ~EnumerationObserver() = default;
  virtual void didEnumerateItems(std::vector<ItemPtr> items) = 0;
  // Nothing: the listing is complete.
  virtual void finishEnumeratingUpToPage(std::optional<Page> nextPage) = 0;
  virtual void finishEnumeratingWithError(Error error) = 0;
  // Nothing when the observer does not suggest a size.
  virtual std::optional<long> suggestedPageSize() const { return std::nullopt; }
};

// Receives one batch of changes. Exactly one finish call ends it.
class ChangeObserver {
 public:
  virtual ~ChangeObserver() = default;
  virtual void didUpdateItems(std::vector<ItemPtr> items) = 0;
  virtual void didDeleteItemsWithIdentifiers(std::vector<ItemIdentifier> identifiers) = 0;
  virtual void finishEnumeratingChangesUpToSyncAnchor(SyncAnchor anchor, bool moreComing) = 0;
  virtual void finishEnumeratingWithError(Error error) = 0;
  virtual std::optional<long> suggestedBatchSize() const { return std::nullopt; }
};

// Lists one container and follows its changes. Every call returns at once.
class Enumerator {
 public:
  virtual ~Enumerator() = default;
  virtual void invalidate() = 0;
  virtual void enumerateItems(std::shared_ptr<EnumerationObserver> observer, Page page) = 0;
  virtual void enumerateChanges(std::shared_ptr<ChangeObserver> observer, SyncAnchor anchor) = 0;
  virtual void currentSyncAnchor(std::function<void(std::optional<SyncAnchor>)> completion) = 0;
};

}  // namespace ostrel::fileprovider
