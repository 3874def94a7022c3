#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <condition_variable>
#include <memory>
#include <stop_token>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "platform/fileprovider/fuse/extension_calls.h"
#include "platform/fileprovider/fuse/growing_file.h"
#include "platform/fileprovider/item.h"
#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

// Fetched contents on disk, one file per item, kept while the item's content
// version stays the same. Reads go to these files; nothing is held in memory.
class ContentCache {
 public:
  struct Entry {
    std::filesystem::path file;
    // The item as of the fetched bytes; nothing when they came from the cache.
    ItemPtr item;
  };
  // Fetches the bytes, telling `arriving` of them as they come; ends early when the token fires.
  using Fetch = std::function<std::expected<ExtensionCalls::Fetched, Error>(std::stop_token,
                                                                           std::shared_ptr<GrowingFile> arriving)>;
  // Runs a fetch on a thread of its own.
  using Runner = std::function<void(std::function<void()>)>;

  // Contents an earlier run fetched are used again: `index.json` in the
  // directory says which item and content version each file holds.
  // Past `limitBytes`, the least recently used files that no open file reads
  // are removed (never the one just kept).
  ContentCache(std::filesystem::path directory, Runner runner, uint64_t limitBytes);

  // The file of that version, fetched when missing. Concurrent requests for
  // one item share a single fetch, which runs on the runner: a requester
  // whose `waiter` token fires stops waiting (userCancelled) while the fetch
  // goes on for the others; once nobody waits, the fetch is cancelled.
  std::expected<Entry, Error> obtain(const ItemIdentifier& identifier, const std::string& contentVersion,
                                     Fetch fetch, std::stop_token waiter);
  // The same, but answered as soon as the first bytes arrived: then with
  // the download's growing file (its descriptor reads the finished file too).
  using Arriving = std::variant<Entry, std::shared_ptr<GrowingFile>>;
  std::expected<Arriving, Error> obtainArriving(const ItemIdentifier& identifier, const std::string& contentVersion,
                                                Fetch fetch, std::stop_token waiter);
  // Takes `file` over (moves it in) as the bytes of that version; when that
  // fails, the file is removed.
  std::expected<std::filesystem::path, Error> adopt(const ItemIdentifier& identifier,
                                                    const std::string& contentVersion,
                                                    const std::filesystem::path& file);
  void drop(const ItemIdentifier& identifier);
  // How many bytes that version has, when they are here.
  std::optional<uint64_t> sizeOf(const ItemIdentifier& identifier, const std::string& contentVersion);
  // An open file reads the item's kept bytes: they are not removed to make room.
  void pin(const ItemIdentifier& identifier);
  void unpin(const ItemIdentifier& identifier);

 private:
  struct Cached {
    std::string contentVersion;
    std::filesystem::path file;
    uint64_t size = 0;
    uint64_t lastUsed = 0;
  };
  // Removes least recently used files until what is kept fits; `keep` stays.
  void makeRoom(const ItemIdentifier& keep);
  struct Pending {
    std::mutex mutex;
    std::condition_variable_any done;
    std::optional<std::expected<Entry, Error>> result;
    size_t waiters = 0;
    std::stop_source cancel;
    std::shared_ptr<GrowingFile> arriving = std::make_shared<GrowingFile>();
  };
  // Joins the fetch of that version, starting it when none runs; nothing
  // when the cache holds the version (then `cached` is set).
  std::shared_ptr<Pending> join(const ItemIdentifier& identifier, const std::string& contentVersion, Fetch& fetch,
                                std::optional<Entry>& cached);
  // Waits for the fetch as one of its requesters; with `early`, also for its first bytes.
  static std::expected<Arriving, Error> await(Pending& pending, std::stop_token waiter, bool early);

  // Writes the index of what is kept.
  void saveIndex();

  std::filesystem::path directory_;
  Runner runner_;
  std::mutex indexMutex_;  // one writer of the index at a time
  const uint64_t limitBytes_;
  uint64_t uses_ = 0;
  std::map<ItemIdentifier, int> pins_;
  std::mutex mutex_;
  uint64_t nextFile_ = 0;
  std::map<ItemIdentifier, Cached> cached_;
  std::map<ItemIdentifier, std::shared_ptr<Pending>> fetching_;
};

}  // namespace ostrel::fileprovider
