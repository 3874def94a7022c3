#include "platform/fileprovider/fuse/content_cache.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <set>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace ostrel::fileprovider {

namespace {

Error fileSystemError(const std::error_code& code) {
  return POSIXError::make(code.value() ? code.value() : EIO);
}

constexpr const char* indexName = "index.json";

}  // namespace

ContentCache::ContentCache(std::filesystem::path directory, Runner runner, uint64_t limitBytes)
    : directory_(std::move(directory)), runner_(std::move(runner)), limitBytes_(limitBytes) {
  std::error_code ignored;
  std::filesystem::create_directories(directory_, ignored);
  // What an earlier run fetched stays, by identifier and content version, as
  // the index says; anything else in the folder is nobody's.
  std::ifstream in(directory_ / indexName);
  const auto index = nlohmann::json::parse(in, nullptr, false);
  if (index.is_object() && index.value("entries", nlohmann::json()).is_array()) {
    for (const auto& entry : index["entries"]) {
      if (!entry.is_object() || !entry.value("identifier", nlohmann::json()).is_string() ||
          !entry.value("version", nlohmann::json()).is_string() || !entry.value("file", nlohmann::json()).is_string())
        continue;
      const std::string name = entry["file"];
      uint64_t number = 0;
      auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
      if (error != std::errc() || end != name.data() + name.size()) continue;
      const auto file = directory_ / name;
      std::error_code missing;
      if (!std::filesystem::is_regular_file(file, missing)) continue;
      const uint64_t size = std::filesystem::file_size(file, missing);
      if (missing) continue;
      cached_[ItemIdentifier{entry["identifier"]}] = Cached{entry["version"], file, size, ++uses_};
      nextFile_ = std::max(nextFile_, number);
    }
  }
  std::set<std::filesystem::path> kept;
  for (const auto& [identifier, cached] : cached_) kept.insert(cached.file);
  for (const auto& file : std::filesystem::directory_iterator(directory_, ignored)) {
    if (file.path().filename() != indexName && !kept.contains(file.path())) std::filesystem::remove_all(file, ignored);
  }
  saveIndex();
}

void ContentCache::saveIndex() {
  std::lock_guard writing(indexMutex_);
  nlohmann::json entries = nlohmann::json::array();
  {
    std::lock_guard lock(mutex_);
    for (const auto& [identifier, cached] : cached_)
      entries.push_back({{"identifier", identifier.rawValue},
                         {"version", cached.contentVersion},
                         {"file", cached.file.filename().string()}});
  }
  // Written beside and renamed: a crash leaves the old index or the new one.
  const auto partial = directory_ / (std::string(indexName) + ".partial");
  {
    std::ofstream out(partial, std::ios::trunc);
    out << nlohmann::json{{"entries", entries}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  std::error_code ignored;
  std::filesystem::rename(partial, directory_ / indexName, ignored);
}

std::expected<ContentCache::Entry, Error> ContentCache::obtain(const ItemIdentifier& identifier,
                                                                const std::string& contentVersion, Fetch fetch,
                                                                std::stop_token waiter) {
  std::optional<Entry> cached;
  auto pending = join(identifier, contentVersion, fetch, cached);
  if (!pending) return *cached;
  auto result = await(*pending, std::move(waiter), false);
  if (!result) return std::unexpected(result.error());
  return std::get<Entry>(*result);
}

std::expected<ContentCache::Arriving, Error> ContentCache::obtainArriving(const ItemIdentifier& identifier,
                                                                         const std::string& contentVersion,
                                                                         Fetch fetch, std::stop_token waiter) {
  std::optional<Entry> cached;
  auto pending = join(identifier, contentVersion, fetch, cached);
  if (!pending) return *cached;
  return await(*pending, std::move(waiter), true);
}

std::shared_ptr<ContentCache::Pending> ContentCache::join(const ItemIdentifier& identifier,
                                                          const std::string& contentVersion, Fetch& fetch,
                                                          std::optional<Entry>& cached) {
  std::shared_ptr<Pending> pending;
  {
    std::lock_guard lock(mutex_);
    if (auto found = cached_.find(identifier); found != cached_.end() && found->second.contentVersion == contentVersion) {
      found->second.lastUsed = ++uses_;
      cached = Entry{found->second.file, nullptr};
      return nullptr;
    }
    auto& running = fetching_[identifier];
    if (running) {
      std::lock_guard waiting(running->mutex);
      // A fetch everyone gave up on is ending: this request starts another.
      if (!running->cancel.stop_requested()) {
        ++running->waiters;
        return running;
      }
    }
    running = pending = std::make_shared<Pending>();
    pending->waiters = 1;
  }
  // Those who wait for the first bytes hear of them.
  pending->arriving->setStartHandler([weak = std::weak_ptr<Pending>(pending)] {
    if (auto waiting = weak.lock()) {
      { std::lock_guard lock(waiting->mutex); }
      waiting->done.notify_all();
    }
  });
  runner_([this, identifier, contentVersion, fetch = std::move(fetch), pending] {
    std::expected<Entry, Error> result;
    if (auto fetched = fetch(pending->cancel.get_token(), pending->arriving)) {
      // The item handed back describes exactly the bytes delivered.
      const std::string version = fetched->item && fetched->item->itemVersion()
                                      ? fetched->item->itemVersion()->contentVersion
                                      : contentVersion;
      auto file = adopt(identifier, version, fetched->contents);
      if (file) {
        result = Entry{*file, std::move(fetched->item)};
      } else {
        result = std::unexpected(file.error());
      }
    } else {
      result = std::unexpected(fetched.error());
    }
    pending->arriving->ended(result.has_value());
    {
      std::lock_guard lock(mutex_);
      if (auto found = fetching_.find(identifier); found != fetching_.end() && found->second == pending)
        fetching_.erase(found);
    }
    {
      std::lock_guard lock(pending->mutex);
      pending->result = std::move(result);
    }
    pending->done.notify_all();
  });
  return pending;
}

std::expected<ContentCache::Arriving, Error> ContentCache::await(Pending& pending, std::stop_token waiter,
                                                                bool early) {
  std::unique_lock lock(pending.mutex);
  // The fetch itself is bounded: it ends with its answer, its time-out or the mount.
  pending.done.wait(lock, waiter,
                    [&] { return pending.result.has_value() || (early && pending.arriving->started()); });
  --pending.waiters;
  if (pending.result) {
    if (!*pending.result) return std::unexpected(pending.result->error());
    return Arriving(**pending.result);
  }
  // A reader of what arrives keeps the download going, whoever else gives up.
  if (early && pending.arriving->started()) return Arriving(pending.arriving);
  // Nobody waits any more and nobody reads what arrived: the download is nobody's.
  if (pending.waiters == 0 && !pending.arriving->started()) pending.cancel.request_stop();
  return std::unexpected(CocoaError::make(CocoaError::userCancelled));
}

std::expected<std::filesystem::path, Error> ContentCache::adopt(const ItemIdentifier& identifier,
                                                                 const std::string& contentVersion,
                                                                 const std::filesystem::path& file) {
  std::filesystem::path target;
  {
    std::lock_guard lock(mutex_);
    target = directory_ / std::to_string(++nextFile_);
  }
  std::error_code error;
  std::filesystem::create_directories(directory_, error);
  std::filesystem::rename(file, target, error);
  if (error) {
    // Another volume: copy, then let go of the original.
    error.clear();
    std::filesystem::copy_file(file, target, std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
      // Nothing stays behind: neither a part of the copy nor the file handed over.
      std::error_code ignored;
      std::filesystem::remove(target, ignored);
      std::filesystem::remove(file, ignored);
      return std::unexpected(fileSystemError(error));
    }
    std::filesystem::remove(file, error);
  }
  const uint64_t size = std::filesystem::file_size(target, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    return std::unexpected(fileSystemError(error));
  }
  std::filesystem::path previous;
  {
    std::lock_guard lock(mutex_);
    auto& cached = cached_[identifier];
    previous = std::exchange(cached.file, target);
    cached.contentVersion = contentVersion;
    cached.size = size;
    cached.lastUsed = ++uses_;
  }
  // Readers that still have the old file open keep reading it.
  if (!previous.empty()) std::filesystem::remove(previous, error);
  makeRoom(identifier);
  saveIndex();
  return target;
}

void ContentCache::makeRoom(const ItemIdentifier& keep) {
  std::vector<std::filesystem::path> removed;
  {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (const auto& [identifier, cached] : cached_) total += cached.size;
    while (total > limitBytes_) {
      auto oldest = cached_.end();
      for (auto at = cached_.begin(); at != cached_.end(); ++at) {
        if (at->first == keep || pins_.contains(at->first)) continue;
        if (oldest == cached_.end() || at->second.lastUsed < oldest->second.lastUsed) oldest = at;
      }
      if (oldest == cached_.end()) break;
      total -= oldest->second.size;
      removed.push_back(std::move(oldest->second.file));
      cached_.erase(oldest);
    }
  }
  std::error_code ignored;
  for (const auto& file : removed) std::filesystem::remove(file, ignored);
}

void ContentCache::pin(const ItemIdentifier& identifier) {
  std::lock_guard lock(mutex_);
  ++pins_[identifier];
}

void ContentCache::unpin(const ItemIdentifier& identifier) {
  std::lock_guard lock(mutex_);
  if (auto found = pins_.find(identifier); found != pins_.end() && --found->second <= 0) pins_.erase(found);
}

void ContentCache::drop(const ItemIdentifier& identifier) {
  std::filesystem::path file;
  {
    std::lock_guard lock(mutex_);
    auto found = cached_.find(identifier);
    if (found == cached_.end()) return;
    file = std::move(found->second.file);
    cached_.erase(found);
  }
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  saveIndex();
}

std::optional<uint64_t> ContentCache::sizeOf(const ItemIdentifier& identifier, const std::string& contentVersion) {
  std::lock_guard lock(mutex_);
  auto found = cached_.find(identifier);
  if (found == cached_.end() || found->second.contentVersion != contentVersion) return std::nullopt;
  return found->second.size;
}

}  // namespace ostrel::fileprovider
