#include "platform/fileprovider/testing/recording_observers.h"

namespace ostrel::fileprovider::testing {

void RecordingEnumerationObserver::didEnumerateItems(std::vector<ItemPtr> items) {
  std::lock_guard lock(mutex_);
  ++didEnumerateCalls_;
  items_.insert(items_.end(), items.begin(), items.end());
}

void RecordingEnumerationObserver::finishEnumeratingUpToPage(std::optional<Page> nextPage) {
  {
    std::lock_guard lock(mutex_);
    ++finishCalls_;
    nextPage_ = std::move(nextPage);
  }
  finished_.notify_all();
}

void RecordingEnumerationObserver::finishEnumeratingWithError(Error error) {
  {
    std::lock_guard lock(mutex_);
    ++finishCalls_;
    error_ = std::move(error);
  }
  finished_.notify_all();
}

bool RecordingEnumerationObserver::wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return finished_.wait_for(lock, timeout, [this] { return finishCalls_ > 0; });
}

std::vector<ItemPtr> RecordingEnumerationObserver::items() const {
  std::lock_guard lock(mutex_);
  return items_;
}

int RecordingEnumerationObserver::didEnumerateCalls() const {
  std::lock_guard lock(mutex_);
  return didEnumerateCalls_;
}

int RecordingEnumerationObserver::finishCalls() const {
  std::lock_guard lock(mutex_);
  return finishCalls_;
}

std::optional<Page> RecordingEnumerationObserver::nextPage() const {
  std::lock_guard lock(mutex_);
  return nextPage_;
}

std::optional<Error> RecordingEnumerationObserver::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

void RecordingChangeObserver::didUpdateItems(std::vector<ItemPtr> items) {
  std::lock_guard lock(mutex_);
  calls_.push_back("update");
  updated_.insert(updated_.end(), items.begin(), items.end());
}

void RecordingChangeObserver::didDeleteItemsWithIdentifiers(std::vector<ItemIdentifier> identifiers) {
  std::lock_guard lock(mutex_);
  calls_.push_back("delete");
  deleted_.insert(deleted_.end(), identifiers.begin(), identifiers.end());
}

void RecordingChangeObserver::finishEnumeratingChangesUpToSyncAnchor(SyncAnchor anchor, bool moreComing) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back("finish");
    anchor_ = std::move(anchor);
    moreComing_ = moreComing;
  }
  finished_.notify_all();
}

void RecordingChangeObserver::finishEnumeratingWithError(Error error) {
  {
    std::lock_guard lock(mutex_);
    calls_.push_back("error");
    error_ = std::move(error);
  }
  finished_.notify_all();
}

bool RecordingChangeObserver::wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return finished_.wait_for(lock, timeout, [this] {
    return !calls_.empty() && (calls_.back() == "finish" || calls_.back() == "error");
  });
}

std::vector<std::string> RecordingChangeObserver::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<ItemPtr> RecordingChangeObserver::updated() const {
  std::lock_guard lock(mutex_);
  return updated_;
}

std::vector<ItemIdentifier> RecordingChangeObserver::deleted() const {
  std::lock_guard lock(mutex_);
  return deleted_;
}

std::optional<SyncAnchor> RecordingChangeObserver::anchor() const {
  std::lock_guard lock(mutex_);
  return anchor_;
}

bool RecordingChangeObserver::moreComing() const {
  std::lock_guard lock(mutex_);
  return moreComing_;
}

std::optional<Error> RecordingChangeObserver::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

}  // namespace ostrel::fileprovider::testing
