#include "platform/fileprovider/fuse/extension_calls.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <set>
#include <string>
#include <utility>

#include "platform/fileprovider/fuse/one_shot.h"
#include "platform/fileprovider/observers.h"
#include "platform/fileprovider/page.h"

namespace ostrel::fileprovider {

namespace {

Error cancelled() {
  return CocoaError::make(CocoaError::userCancelled);
}

Error timedOut() {
  return POSIXError::make(ETIMEDOUT);
}

// Collects one page of a listing.
class PageObserver final : public EnumerationObserver {
 public:
  struct Outcome {
    std::vector<ItemPtr> items;
    std::optional<Page> nextPage;
    std::optional<Error> error;
  };

  // Large pages: a folder of thousands lists in few round trips.
  std::optional<long> suggestedPageSize() const override { return 500; }

  void didEnumerateItems(std::vector<ItemPtr> items) override {
    std::lock_guard lock(mutex_);
    items_.insert(items_.end(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
  }
  void finishEnumeratingUpToPage(std::optional<Page> nextPage) override {
    done_.set(Outcome{takeItems(), std::move(nextPage), std::nullopt});
  }
  void finishEnumeratingWithError(Error error) override { done_.set(Outcome{{}, std::nullopt, std::move(error)}); }

  OneShot<Outcome>& done() { return done_; }

 private:
  std::vector<ItemPtr> takeItems() {
    std::lock_guard lock(mutex_);
    return std::move(items_);
  }

  std::mutex mutex_;
  std::vector<ItemPtr> items_;
  OneShot<Outcome> done_;
};

// A listing whose pages expired while it was followed starts over, a few times.
constexpr int maximumListingRestarts = 3;

}  // namespace

namespace {
thread_local std::stop_token requestToken;
}  // namespace

RequestScope::RequestScope(std::stop_token token) : previous_(std::exchange(requestToken, std::move(token))) {}

RequestScope::~RequestScope() {
  requestToken = std::move(previous_);
}

std::stop_token RequestScope::current() {
  return requestToken;
}

ExtensionCalls::Stops::Stops(std::stop_token mountToken, std::stop_token requestToken)
    : mount(mountToken, [this] { either.request_stop(); }), request(requestToken, [this] { either.request_stop(); }) {}

ExtensionCalls::ExtensionCalls(std::shared_ptr<ReplicatedExtension> extension, std::chrono::milliseconds timeout)
    : extension_(std::move(extension)), timeout_(timeout) {}

template <class T, class Start>
std::expected<T, Error> ExtensionCalls::await(Start start, std::stop_token request) {
  if (stopping_.stop_requested() || request.stop_requested()) return std::unexpected(cancelled());
  Stops stops(stopping_.get_token(), request);
  auto answer = std::make_shared<OneShot<std::expected<T, Error>>>();
  ProgressPtr progress = start([answer](std::expected<T, Error> result) { answer->set(std::move(result)); });

  uint64_t call = 0;
  if (progress) {
    std::lock_guard lock(mutex_);
    call = ++nextCall_;
    inFlight_.emplace(call, progress);
  }
  // A shutdown that began before the registration above did not see this call.
  if (stopping_.stop_requested() && progress) progress->cancel();

  auto result = answer->wait(stops.either.get_token(), timeout_);
  bool gaveUp = false;
  if (!result) {
    if (progress) progress->cancel();
    result = answer->wait(cancellationGrace);
    gaveUp = !result;
  }
  if (progress) {
    std::lock_guard lock(mutex_);
    inFlight_.erase(call);
  }
  if (gaveUp) return std::unexpected(stops.either.stop_requested() ? cancelled() : timedOut());
  return std::move(*result);
}

std::optional<Error> ExtensionCalls::failsFast() const {
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  if (now >= unreachableUntil_.load()) return std::nullopt;
  return FileProviderError::make(FileProviderError::serverUnreachable, "the service could not be reached a moment ago");
}

void ExtensionCalls::noteOutcome(const std::optional<Error>& failure) {
  if (!failure) {
    unreachableUntil_ = 0;
  } else if (failure->is(FileProviderError::domain, FileProviderError::serverUnreachable) ||
             failure->is(POSIXError::domain, ETIMEDOUT)) {
    unreachableUntil_ =
        (std::chrono::steady_clock::now() + unreachableWindow).time_since_epoch().count();
  }
}

void ExtensionCalls::reachable() {
  unreachableUntil_ = 0;
}

std::expected<ItemPtr, Error> ExtensionCalls::item(const ItemIdentifier& identifier) {
  if (auto unreachable = failsFast()) return std::unexpected(*unreachable);
  return await<ItemPtr>([&](auto deliver) {
    return extension_->itemForIdentifier(identifier, [deliver](ItemPtr item, std::optional<Error> error) {
      if (error) return deliver(std::unexpected(std::move(*error)));
      if (!item) return deliver(std::unexpected(FileProviderError::make(FileProviderError::noSuchItem)));
      deliver(std::move(item));
    });
  });
}

std::expected<ExtensionCalls::Fetched, Error> ExtensionCalls::fetchContents(const ItemIdentifier& identifier,
                                                                              std::optional<ItemVersion> version,
                                                                              std::stop_token stop,
                                                                              std::shared_ptr<GrowingFile> arriving) {
  if (auto unreachable = failsFast()) return std::unexpected(*unreachable);
  // Bytes that arrive after the wait gave up are nobody's: they are removed.
  auto abandoned = std::make_shared<std::atomic<bool>>(false);
  auto fetched = await<Fetched>([&](auto deliver) {
    auto progress = extension_->fetchContents(
        identifier, std::move(version),
        [deliver, abandoned](std::optional<std::filesystem::path> contents, ItemPtr item, std::optional<Error> error) {
          if (error) return deliver(std::unexpected(std::move(*error)));
          if (!contents) return deliver(std::unexpected(FileProviderError::make(FileProviderError::cannotSynchronize)));
          if (abandoned->load()) {
            std::error_code ignored;
            std::filesystem::remove(*contents, ignored);
            return;
          }
          deliver(Fetched{std::move(*contents), std::move(item)});
        });
    if (progress && arriving) {
      progress->setProgressHandler([weak = std::weak_ptr<Progress>(progress), arriving] {
        auto live = weak.lock();
        if (!live) return;
        if (auto file = live->fileURL())
          arriving->grew(*file, static_cast<uint64_t>(std::max<int64_t>(live->completedUnitCount(), 0)));
      });
    }
    return progress;
  }, std::move(stop));
  if (!fetched) abandoned->store(true);
  // A download cut short says nothing of the service's reach; one that went through does.
  if (fetched) reachable();
  return fetched;
}

namespace {

auto writeAnswer(auto deliver) {
  return [deliver](ItemPtr item, uint32_t, bool, std::optional<Error> error) {
    if (error) return deliver(std::unexpected(std::move(*error)));
    if (!item) return deliver(std::unexpected(FileProviderError::make(FileProviderError::cannotSynchronize)));
    deliver(std::move(item));
  };
}

}  // namespace

std::expected<ItemPtr, Error> ExtensionCalls::createItem(ItemPtr itemTemplate, uint32_t fields,
                                                         std::optional<std::filesystem::path> contents) {
  return await<ItemPtr>([&](auto deliver) {
    return extension_->createItem(std::move(itemTemplate), fields, std::move(contents), writeAnswer(deliver));
  });
}

std::expected<ItemPtr, Error> ExtensionCalls::modifyItem(ItemPtr item, ItemVersion baseVersion, uint32_t changedFields,
                                                         std::optional<std::filesystem::path> contents) {
  return await<ItemPtr>([&](auto deliver) {
    return extension_->modifyItem(std::move(item), std::move(baseVersion), changedFields, std::move(contents),
                                  writeAnswer(deliver));
  });
}

std::expected<void, Error> ExtensionCalls::deleteItem(const ItemIdentifier& identifier, ItemVersion baseVersion) {
  auto result = await<bool>([&](auto deliver) {
    return extension_->deleteItem(identifier, std::move(baseVersion), [deliver](std::optional<Error> error) {
      if (error) return deliver(std::unexpected(std::move(*error)));
      deliver(true);
    });
  });
  if (!result) return std::unexpected(result.error());
  return {};
}

std::expected<std::vector<ItemPtr>, Error> ExtensionCalls::listContainer(const ItemIdentifier& container) {
  if (auto unreachable = failsFast()) return std::unexpected(*unreachable);
  auto listed = listPages(container);
  noteOutcome(listed ? std::nullopt : std::optional<Error>(listed.error()));
  return listed;
}

std::expected<std::vector<ItemPtr>, Error> ExtensionCalls::listPages(const ItemIdentifier& container) {
  if (stopping_.stop_requested()) return std::unexpected(cancelled());
  Stops stops(stopping_.get_token(), RequestScope::current());
  auto enumerator = extension_->enumeratorForContainer(container);
  if (!enumerator) return std::unexpected(enumerator.error());
  auto finish = [&](std::expected<std::vector<ItemPtr>, Error> result) {
    (*enumerator)->invalidate();
    return result;
  };

  std::vector<ItemPtr> items;
  Page page = initialPageSortedByName;
  std::set<std::string> pagesAsked;
  int restarts = 0;
  for (;;) {
    if (!pagesAsked.insert(page.bytes).second)
      return finish(std::unexpected(FileProviderError::make(FileProviderError::cannotSynchronize,
                                                            "the listing's pages lead back to one asked before")));
    if (pagesAsked.size() > maximumListingPages)
      return finish(std::unexpected(FileProviderError::make(
          FileProviderError::cannotSynchronize,
          "the listing has more than " + std::to_string(maximumListingPages) + " pages")));
    auto observer = std::make_shared<PageObserver>();
    (*enumerator)->enumerateItems(observer, page);
    auto outcome = observer->done().wait(stops.either.get_token(), timeout_);
    if (!outcome) {
      // Invalidating cancels the enumerator's work, which then finishes the page.
      (*enumerator)->invalidate();
      observer->done().wait(cancellationGrace);
      return std::unexpected(stops.either.stop_requested() ? cancelled() : timedOut());
    }
    if (outcome->error) {
      if (outcome->error->is(FileProviderError::domain, FileProviderError::syncAnchorExpired) &&
          restarts < maximumListingRestarts) {
        ++restarts;
        items.clear();
        pagesAsked.clear();
        page = initialPageSortedByName;
        continue;
      }
      return finish(std::unexpected(std::move(*outcome->error)));
    }
    if (outcome->items.size() > maximumListingItems - items.size())
      return finish(std::unexpected(FileProviderError::make(
          FileProviderError::cannotSynchronize,
          "the listing has more than " + std::to_string(maximumListingItems) + " items")));
    items.insert(items.end(), std::make_move_iterator(outcome->items.begin()),
                 std::make_move_iterator(outcome->items.end()));
    if (!outcome->nextPage) break;
    page = std::move(*outcome->nextPage);
  }
  return finish(std::move(items));
}

void ExtensionCalls::shutdown() {
  stopping_.request_stop();
  std::vector<ProgressPtr> progresses;
  {
    std::lock_guard lock(mutex_);
    for (auto& [call, progress] : inFlight_) progresses.push_back(progress);
  }
  for (auto& progress : progresses) progress->cancel();
}

}  // namespace ostrel::fileprovider
