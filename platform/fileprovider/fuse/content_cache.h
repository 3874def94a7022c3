#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/fileprovider/fuse/extension_calls.h"
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
  using Fetch = std::function<std::expected<ExtensionCalls::Fetched, Error>()>;

  // Files left by an earlier run are stale: their versions are unknown.
  explicit ContentCache(std::filesystem::path directory);

  // The file of that version, fetched when missing. Concurrent requests for
  // one item share a single fetch.
  std::expected<Entry, Error> obtain(const ItemIdentifier& identifier, const std::string& contentVersion,
                                     const Fetch& fetch);
  // Takes `file` over (moves it in) as the bytes of that version; when that
  // fails, the file is removed.
  std::expected<std::filesystem::path, Error> adopt(const ItemIdentifier& identifier,
                                                    const std::string& contentVersion,
                                                    const std::filesystem::path& file);
  void drop(const ItemIdentifier& identifier);
  // How many bytes that version has, when they are here.
  std::optional<uint64_t> sizeOf(const ItemIdentifier& identifier, const std::string& contentVersion);

 private:
  struct Cached {
    std::string contentVersion;
    std::filesystem::path file;
    uint64_t size = 0;
  };
  using Pending = std::shared_future<std::expected<Entry, Error>>;

  std::filesystem::path directory_;
  std::mutex mutex_;
  uint64_t nextFile_ = 0;
  std::map<ItemIdentifier, Cached> cached_;
  std::map<ItemIdentifier, Pending> fetching_;
};

}  // namespace ostrel::fileprovider
