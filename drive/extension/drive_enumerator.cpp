#include "drive/extension/drive_enumerator.h"

#include <algorithm>

#include "drive/model/drive_id.h"
#include "drive/model/drive_item.h"
#include "drive/model/drive_log.h"
#include "platform/foundation/text.h"

namespace ostrel::drive {

namespace {

using namespace fileprovider;

constexpr long defaultPageSize = 200;

long limitFor(std::optional<long> suggested) {
  return std::min<long>(suggested.value_or(defaultPageSize), DriveAPI::maxPageSize);
}

std::vector<ItemPtr> itemsOf(std::vector<DriveItemPayload> payloads) {
  std::vector<ItemPtr> items;
  items.reserve(payloads.size());
  for (auto& payload : payloads) items.push_back(std::make_shared<DriveItem>(std::move(payload)));
  return items;
}

}  // namespace

void DriveEnumerator::run(std::function<void(std::stop_token)> body) {
  auto task = Task::start(std::move(body));
  std::lock_guard lock(lock_);
  tasks_.push_back(std::move(task));
}

size_t DriveEnumerator::taskCount() const {
  std::lock_guard lock(lock_);
  return tasks_.size();
}

void DriveEnumerator::invalidate() {
  std::vector<std::shared_ptr<Task>> tasks;
  {
    std::lock_guard lock(lock_);
    tasks.swap(tasks_);
  }
  for (auto& task : tasks) task->cancel();
}

void DriveEnumerator::enumerateItems(std::shared_ptr<EnumerationObserver> observer, Page page) {
  // The working set only reports changes; it lists nothing.
  if (container_ == workingSetItemIdentifier) {
    observer->finishEnumeratingUpToPage(std::nullopt);
    return;
  }
  const std::string wire = DriveID::wire(container_);
  // An initial page, or bytes that are no cursor of ours, start from the top.
  std::optional<std::string> cursor;
  if (page != initialPageSortedByName && page != initialPageSortedByDate && isValidUTF8(page.bytes)) {
    cursor = page.bytes;
  }
  const int limit = static_cast<int>(limitFor(observer->suggestedPageSize()));
  run([api = api_, observer, wire, cursor, limit](std::stop_token stop) {
    auto listed = api->children(wire, cursor, limit, stop);
    if (!listed) {
      observer->finishEnumeratingWithError(listed.error());
      return;
    }
    observer->didEnumerateItems(itemsOf(std::move(listed->items)));
    observer->finishEnumeratingUpToPage(listed->nextPage ? std::optional(Page{*listed->nextPage}) : std::nullopt);
  });
}

void DriveEnumerator::enumerateChanges(std::shared_ptr<ChangeObserver> observer, SyncAnchor anchor) {
  // Only the working set follows the change feed, which covers the whole drive.
  if (container_ != workingSetItemIdentifier) {
    observer->finishEnumeratingChangesUpToSyncAnchor(std::move(anchor), false);
    return;
  }
  if (!isValidUTF8(anchor.bytes)) {
    observer->finishEnumeratingWithError(FileProviderError::make(FileProviderError::syncAnchorExpired));
    return;
  }
  const int limit = static_cast<int>(limitFor(observer->suggestedBatchSize()));
  run([api = api_, observer, from = anchor.bytes, limit](std::stop_token stop) {
    auto changes = api->changes(from, limit, stop);
    if (!changes) {
      observer->finishEnumeratingWithError(changes.error());
      return;
    }
    if (!changes->updated.empty()) observer->didUpdateItems(itemsOf(std::move(changes->updated)));
    if (!changes->deleted.empty()) {
      std::vector<ItemIdentifier> deleted;
      deleted.reserve(changes->deleted.size());
      for (const auto& wire : changes->deleted) deleted.push_back(DriveID::item(wire));
      observer->didDeleteItemsWithIdentifiers(std::move(deleted));
    }
    observer->finishEnumeratingChangesUpToSyncAnchor(SyncAnchor{changes->anchor}, changes->more);
  });
}

void DriveEnumerator::currentSyncAnchor(std::function<void(std::optional<SyncAnchor>)> completion) {
  run([api = api_, completion = std::move(completion)](std::stop_token stop) {
    auto head = api->head(stop);
    if (!head) {
      driveLog().error("currentSyncAnchor: %{public}s", {head.error().localizedDescription()});
      completion(std::nullopt);
      return;
    }
    completion(SyncAnchor{*head});
  });
}

}  // namespace ostrel::drive
