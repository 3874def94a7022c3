#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

#include "platform/fileprovider/fuse/growing_file.h"
#include "platform/fileprovider/item.h"
#include "platform/fileprovider/replicated_extension.h"
#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

// The stop token of the kernel request the calling thread serves: it fires
// when the kernel interrupts the request (a signal reached the caller). Every
// wait below ends with it.
class RequestScope {
 public:
  explicit RequestScope(std::stop_token token);
  ~RequestScope();
  RequestScope(const RequestScope&) = delete;
  RequestScope& operator=(const RequestScope&) = delete;
  // The token of the innermost scope on this thread; one that never fires outside any.
  static std::stop_token current();

 private:
  std::stop_token previous_;
};

// The extension's asynchronous calls as bounded waits, for request threads
// that must answer the kernel. A wait ends with the completion, after
// `timeout` (the call is cancelled through its progress), or when the mount
// shuts down (every call in flight is cancelled).
class ExtensionCalls {
 public:
  struct Fetched {
    std::filesystem::path contents;
    ItemPtr item;
  };

  ExtensionCalls(std::shared_ptr<ReplicatedExtension> extension, std::chrono::milliseconds timeout);

  std::expected<ItemPtr, Error> item(const ItemIdentifier& identifier);
  // `stop` ends the wait too: a download several requests wait for runs
  // under its own token, not under the first requester's.
  // What the download's progress says has arrived goes to `arriving`.
  std::expected<Fetched, Error> fetchContents(const ItemIdentifier& identifier, std::optional<ItemVersion> version,
                                              std::stop_token stop, std::shared_ptr<GrowingFile> arriving = nullptr);
  std::expected<ItemPtr, Error> createItem(ItemPtr itemTemplate, uint32_t fields,
                                           std::optional<std::filesystem::path> contents);
  std::expected<ItemPtr, Error> modifyItem(ItemPtr item, ItemVersion baseVersion, uint32_t changedFields,
                                           std::optional<std::filesystem::path> contents);
  std::expected<void, Error> deleteItem(const ItemIdentifier& identifier, ItemVersion baseVersion);
  // Every item of the container, page after page from the first; a page
  // asked for twice (a cursor that cycles) ends it with an error.
  std::expected<std::vector<ItemPtr>, Error> listContainer(const ItemIdentifier& container);

  // Cancels what is in flight and makes every later call fail at once.
  void shutdown();
  // The service answered (a signal, a change): reads try it again at once.
  void reachable();

 private:
  template <class T, class Start>
  std::expected<T, Error> await(Start start, std::stop_token request = RequestScope::current());
  // Fires when the mount shuts down or `request` fires.
  struct Stops {
    std::stop_source either;
    std::stop_callback<std::function<void()>> mount;
    std::stop_callback<std::function<void()>> request;
    Stops(std::stop_token mountToken, std::stop_token requestToken);
  };

  // Reads (items, contents, listings) fail at once for a short while after a
  // listing found the service unreachable: a partner without a network gets
  // EIO now, not after every request's time-out. A success ends it.
  std::optional<Error> failsFast() const;
  std::expected<std::vector<ItemPtr>, Error> listPages(const ItemIdentifier& container);
  // What a listing ended with: nothing when it went through.
  void noteOutcome(const std::optional<Error>& failure);

  std::shared_ptr<ReplicatedExtension> extension_;
  std::chrono::milliseconds timeout_;
  std::atomic<int64_t> unreachableUntil_{0};  // steady-clock nanoseconds
  std::stop_source stopping_;
  std::mutex mutex_;
  uint64_t nextCall_ = 0;
  std::map<uint64_t, ProgressPtr> inFlight_;
};

// A listing ends with an error past these: a service whose pages never end
// must not hold a request thread, or the daemon's memory, without bound.
inline constexpr int maximumListingPages = 1000;
inline constexpr size_t maximumListingItems = 50000;

// How long reads fail at once after one found the service unreachable.
inline constexpr std::chrono::seconds unreachableWindow{5};

// How long a call may go on after it was cancelled before the wait gives up
// on its completion.
inline constexpr std::chrono::seconds cancellationGrace{5};

}  // namespace ostrel::fileprovider
