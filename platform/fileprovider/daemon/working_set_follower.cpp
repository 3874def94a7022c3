#include "platform/fileprovider/daemon/working_set_follower.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace ostrel::fileprovider {

namespace {

// No round waits for the extension longer than this.
constexpr auto answerTimeout = std::chrono::minutes(5);

// A feed that keeps saying more is coming is asked at once this many times
// in a round, then at a pace that slows to one batch every 30 s: a service
// that never ends its batches must not keep the daemon asking flat out.
constexpr int batchesBeforePacing = 20;
constexpr auto firstPause = std::chrono::seconds(1);
constexpr auto longestPause = std::chrono::seconds(30);

// Collects one batch of changes; the follower waits for its finish call.
class BatchObserver final : public ChangeObserver {
 public:
  struct Result {
    std::vector<ItemPtr> updated;
    std::vector<ItemIdentifier> deleted;
    std::optional<SyncAnchor> anchor;
    bool moreComing = false;
    std::optional<Error> error;
  };

  void didUpdateItems(std::vector<ItemPtr> items) override {
    std::lock_guard lock(mutex_);
    for (auto& item : items) result_.updated.push_back(std::move(item));
  }
  void didDeleteItemsWithIdentifiers(std::vector<ItemIdentifier> identifiers) override {
    std::lock_guard lock(mutex_);
    for (auto& identifier : identifiers) result_.deleted.push_back(std::move(identifier));
  }
  void finishEnumeratingChangesUpToSyncAnchor(SyncAnchor anchor, bool moreComing) override {
    finish([&] {
      result_.anchor = std::move(anchor);
      result_.moreComing = moreComing;
    });
  }
  void finishEnumeratingWithError(Error error) override {
    finish([&] { result_.error = std::move(error); });
  }

  // Nothing when the wait was stopped or timed out.
  std::optional<Result> wait(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!done_.wait_for(lock, stop, answerTimeout, [&] { return finished_; })) return std::nullopt;
    return std::move(result_);
  }

 private:
  template <typename Fill>
  void finish(Fill fill) {
    {
      std::lock_guard lock(mutex_);
      if (finished_) return;
      fill();
      finished_ = true;
    }
    done_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable_any done_;
  bool finished_ = false;
  Result result_;
};

}  // namespace

WorkingSetFollower::WorkingSetFollower(std::shared_ptr<ReplicatedExtension> extension, Sink sink)
    : extension_(std::move(extension)), sink_(std::move(sink)), thread_([this](std::stop_token stop) { run(stop); }) {}

WorkingSetFollower::~WorkingSetFollower() {
  thread_.request_stop();
  wake_.notify_all();
}

void WorkingSetFollower::signal() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  wake_.notify_all();
}

void WorkingSetFollower::reset() {
  {
    std::lock_guard lock(mutex_);
    resetRequested_ = true;
  }
  wake_.notify_all();
}

void WorkingSetFollower::run(std::stop_token stop) {
  auto enumerator = extension_->enumeratorForContainer(workingSetItemIdentifier);
  if (!enumerator) {
    log_.error("no working-set enumerator: %{public}s", {enumerator.error().localizedDescription()});
    return;
  }
  // The anchor of the moment the domain started: changes before it are in the first listings.
  anchor_ = currentAnchor(**enumerator, stop);
  while (!stop.stop_requested()) {
    bool reset = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, stop, [&] { return signalled_ || resetRequested_; });
      if (stop.stop_requested()) break;
      signalled_ = false;
      reset = std::exchange(resetRequested_, false);
    }
    if (reset || !anchor_) {
      const bool hadNone = !anchor_;
      anchor_ = currentAnchor(**enumerator, stop);
      // Listings kept from before a late anchor may miss changes made in between.
      if (hadNone && !reset && anchor_ && sink_.forgetAll) sink_.forgetAll();
    }
    if (anchor_ && followChanges(**enumerator, stop) && sink_.reachable) sink_.reachable();
  }
  (*enumerator)->invalidate();
}

bool WorkingSetFollower::followChanges(Enumerator& enumerator, std::stop_token stop) {
  int batches = 0;
  std::chrono::seconds pause = firstPause;
  for (bool moreComing = true; moreComing && !stop.stop_requested(); ++batches) {
    if (batches >= batchesBeforePacing) {
      if (batches == batchesBeforePacing)
        log_.notice("the working set reported more changes %{public}d times in a row; asking at a slower pace",
                    {batches});
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, stop, pause, [] { return false; });
      if (stop.stop_requested()) break;
      pause = std::min(pause * 2, std::chrono::duration_cast<std::chrono::seconds>(longestPause));
    }
    auto observer = std::make_shared<BatchObserver>();
    enumerator.enumerateChanges(observer, *anchor_);
    auto batch = observer->wait(stop);
    if (!batch) {
      if (!stop.stop_requested()) log_.error("the working set did not answer a change request in time", {});
      return false;
    }
    if (batch->error) {
      if (batch->error->is(FileProviderError::domain, FileProviderError::syncAnchorExpired)) {
        log_.notice("working-set anchor expired; everything is listed afresh");
        if (sink_.forgetAll) sink_.forgetAll();
        anchor_ = currentAnchor(enumerator, stop);
      } else {
        log_.error("working-set changes failed: %{public}s", {batch->error->localizedDescription()});
      }
      return false;
    }
    if ((!batch->updated.empty() || !batch->deleted.empty()) && sink_.applyChanges) {
      sink_.applyChanges(std::move(batch->updated), std::move(batch->deleted));
    }
    anchor_ = std::move(batch->anchor);
    moreComing = batch->moreComing;
  }
  return true;
}

std::optional<SyncAnchor> WorkingSetFollower::currentAnchor(Enumerator& enumerator, std::stop_token stop) {
  struct Answer {
    std::mutex mutex;
    std::condition_variable_any done;
    bool answered = false;
    std::optional<SyncAnchor> anchor;
  };
  auto answer = std::make_shared<Answer>();
  enumerator.currentSyncAnchor([answer](std::optional<SyncAnchor> anchor) {
    {
      std::lock_guard lock(answer->mutex);
      answer->anchor = std::move(anchor);
      answer->answered = true;
    }
    answer->done.notify_all();
  });
  std::unique_lock lock(answer->mutex);
  if (!answer->done.wait_for(lock, stop, answerTimeout, [&] { return answer->answered; })) return std::nullopt;
  if (!answer->anchor) log_.error("the working set has no current anchor", {});
  return answer->anchor;
}

}  // namespace ostrel::fileprovider
