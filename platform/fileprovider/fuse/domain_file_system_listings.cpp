// The tree as the kernel walks it: listings read from the extension and
// kept, lookups, and what the working set reports.
#include <algorithm>
#include <cerrno>

#include "platform/fileprovider/fuse/domain_file_system.h"
#include "platform/fileprovider/fuse/errno_mapping.h"
#include "platform/fileprovider/fuse/file_system_support.h"

namespace ostrel::fileprovider {

FsResult<void> DomainFileSystem::ensureListed(Inode inode) {
  ItemIdentifier identifier;
  std::promise<FsResult<void>> promise;
  {
    std::unique_lock lock(mutex_);
    Node* node = tree_.find(inode);
    if (!node) return std::unexpected(ENOENT);
    if (!node->directory) return std::unexpected(ENOTDIR);
    if (node->listed && !node->stale) return {};
    identifier = node->identifier;
    if (auto running = listing_.find(identifier); running != listing_.end()) {
      auto pending = running->second;
      lock.unlock();
      return pending.get();
    }
    listing_.emplace(identifier, promise.get_future().share());
  }

  auto items = calls_.listContainer(identifier);
  FsResult<void> result;
  {
    std::lock_guard lock(mutex_);
    Node* node = tree_.find(identifier);
    if (!items && node && node->listed && worthRetrying(items.error())) {
      // Better what was listed before than nothing while the service cannot be reached.
      log_.notice("listing %{public}s again failed (%{public}s); what was listed before shows",
                  {identifier.rawValue, describe(items.error())});
    } else if (!items) {
      log_.error("listing %{public}s failed: %{public}s", {identifier.rawValue, describe(items.error())});
      result = std::unexpected(errnoForError(items.error()));
    } else if (node) {
      // Entries new to the kernel need no invalidation: it asks for them.
      std::vector<Invalidation> ignored;
      if (size_t refused = tree_.install(*node, *items, ignored))
        log_.error("listing %{public}s: refused %{public}zu items that hold it", {identifier.rawValue, refused});
      mergeLocal(*node, ignored);
    }
    listing_.erase(identifier);
  }
  promise.set_value(result);
  return result;
}

void DomainFileSystem::mergeLocal(Node& container, std::vector<Invalidation>& invalidations) {
  for (auto* entry : local_.createdIn(container.identifier)) {
    Node& node = tree_.addLocal(entry->identifier, entry->name, entry->directory);
    node.localToken = entry->token;
    tree_.attach(node, container, entry->name, invalidations);
    if (node.directory) mergeLocal(node, invalidations);
  }
  for (auto* entry : local_.all()) {
    if (entry->kind != LocalStore::Entry::Kind::edited) continue;
    if (Node* node = tree_.find(entry->identifier); node && node->parent == container.inode)
      node->localToken = entry->token;
  }
}

bool DomainFileSystem::isListed(Inode inode) {
  std::lock_guard lock(mutex_);
  Node* node = tree_.find(inode);
  return node && node->directory && node->listed && !node->stale;
}

FsResult<DomainFileSystem::Entry> DomainFileSystem::lookup(Inode parent, const std::string& name) {
  if (auto listed = ensureListed(parent); !listed) return std::unexpected(listed.error());
  std::lock_guard lock(mutex_);
  Node* container = tree_.find(parent);
  if (!container) return std::unexpected(ENOENT);
  Node* node = tree_.child(*container, name);
  if (!node) return std::unexpected(ENOENT);
  tree_.remember(*node);
  return entryOf(*node);
}

FsResult<DomainFileSystem::Entry> DomainFileSystem::lookupListed(Inode inode) {
  std::lock_guard lock(mutex_);
  Node* node = tree_.find(inode);
  if (!node || node->vanished) return std::unexpected(ENOENT);
  tree_.remember(*node);
  return entryOf(*node);
}

void DomainFileSystem::forget(Inode inode, uint64_t count) {
  std::lock_guard lock(mutex_);
  tree_.forget(inode, count);
}

FsResult<std::vector<DomainFileSystem::DirectoryEntry>> DomainFileSystem::list(Inode inode) {
  if (auto listed = ensureListed(inode); !listed) return std::unexpected(listed.error());
  std::lock_guard lock(mutex_);
  Node* node = tree_.find(inode);
  if (!node) return std::unexpected(ENOENT);
  std::vector<DirectoryEntry> entries;
  entries.reserve(node->children.size() + 2);
  entries.push_back({".", node->inode, true});
  entries.push_back({"..", node->parent ? node->parent : node->inode, true});
  for (const auto& [name, child] : node->children) {
    const Node* childNode = tree_.find(child);
    entries.push_back({name, child, childNode && childNode->directory});
  }
  return entries;
}

FsResult<uint64_t> DomainFileSystem::openListing(Inode inode, pid_t reader) {
  auto entries = list(inode);
  if (!entries) return std::unexpected(entries.error());
  std::lock_guard lock(mutex_);
  const uint64_t id = ++nextHandle_;
  listings_.emplace(id, std::make_shared<const std::vector<DirectoryEntry>>(std::move(*entries)));
  listingReaders_.emplace(id, std::pair{inode, reader});
  return id;
}

bool DomainFileSystem::walks(pid_t reader, Inode directory) const {
  return std::ranges::any_of(listingReaders_, [&](const auto& open) { return open.second == std::pair{directory, reader}; });
}

std::shared_ptr<const std::vector<DomainFileSystem::DirectoryEntry>> DomainFileSystem::listing(uint64_t handle) {
  std::lock_guard lock(mutex_);
  auto found = listings_.find(handle);
  return found == listings_.end() ? nullptr : found->second;
}

void DomainFileSystem::refreshListing(uint64_t handle, Inode inode) {
  auto entries = list(inode);
  if (!entries) return;
  std::lock_guard lock(mutex_);
  if (auto found = listings_.find(handle); found != listings_.end())
    found->second = std::make_shared<const std::vector<DirectoryEntry>>(std::move(*entries));
}

bool DomainFileSystem::startsOver(uint64_t handle) {
  std::lock_guard lock(mutex_);
  return !listingsRead_.insert(handle).second;
}

void DomainFileSystem::closeListing(uint64_t handle) {
  std::lock_guard lock(mutex_);
  listings_.erase(handle);
  listingsRead_.erase(handle);
  auto reader = listingReaders_.find(handle);
  if (reader == listingReaders_.end()) return;
  const auto [inode, pid] = reader->second;
  listingReaders_.erase(reader);
  // The walker let go without removing the container: what it held shows again.
  auto held = held_.find(pid);
  if (held == held_.end() || walks(pid, inode) || !held->second.erase(inode)) return;
  if (held->second.empty()) held_.erase(held);
  if (Node* node = tree_.find(inode)) relistContainer(node->identifier);
}

void DomainFileSystem::relistContainer(const std::optional<ItemIdentifier>& container) {
  if (!container) return;
  Node* node = tree_.find(*container);
  if (!node || !node->directory) return;
  std::vector<Invalidation> invalidations;
  tree_.dropListing(*node, false, invalidations);
  notifyKernel(std::move(invalidations));
}

// What the daemon reports --------------------------------------------------------

std::vector<Invalidation> DomainFileSystem::applyChanges(std::vector<ItemPtr> updated,
                                                         std::vector<ItemIdentifier> deleted) {
  std::vector<Invalidation> invalidations;
  std::vector<ItemIdentifier> stale;
  {
    std::lock_guard lock(mutex_);
    for (auto& item : updated) {
      if (!item || superseded_.isStale(*item)) continue;
      const ItemIdentifier identifier = item->itemIdentifier();
      Node* parent = tree_.find(item->parentItemIdentifier());
      Node* node = tree_.find(identifier);
      if (node && identifier == rootContainerItemIdentifier) {
        node->item = item;
        continue;
      }
      if (node) {
        if (node->item && contentVersionOf(*node->item) != contentVersionOf(*item)) {
          stale.push_back(identifier);
          invalidations.push_back({0, {}, node->inode});
        }
        tree_.upsert(item);
        node->vanished = false;
        // Other containers that list it show its new name.
        std::vector<Inode> aliases;
        for (const auto& [container, name] : node->aliases) aliases.push_back(container);
        for (Inode container : aliases) {
          if (Node* other = tree_.find(container)) tree_.place(*node, *other, invalidations);
        }
        if (parent && parent->listed) {
          if (!tree_.place(*node, *parent, invalidations))
            log_.error("refused moving %{public}s into %{public}s, which it holds",
                       {identifier.rawValue, parent->identifier.rawValue});
        } else {
          tree_.detach(*node, invalidations);
          tree_.collect(*node);
        }
      } else if (parent && parent->listed) {
        Node& made = tree_.upsert(item);
        if (!tree_.place(made, *parent, invalidations))
          log_.error("refused listing %{public}s in %{public}s, which it holds",
                     {identifier.rawValue, parent->identifier.rawValue});
      }
    }
    for (const auto& identifier : deleted) {
      Node* node = tree_.find(identifier);
      if (!node || node->inode == rootInode) continue;
      stale.push_back(identifier);
      if (node->directory) tree_.dropListing(*node, true, invalidations, &stale);
      invalidations.push_back({0, {}, node->inode});
      auto* entry = node->localToken ? local_.find(*node->localToken) : nullptr;
      if (entry) {
        // Gone at the service while the user's edit waits: the edit stays, as a new local file.
        entry->kind = LocalStore::Entry::Kind::created;
        entry->identifier.rawValue = "local:" + entry->token;
        entry->state = LocalStore::Entry::State::kept;
        local_.save(*entry);
        log_.notice("%{public}s was deleted at the service; the local edit is kept", {entry->name});
        tree_.rename(*node, entry->identifier);
        node->item = nullptr;
        continue;
      }
      node->vanished = true;
      tree_.detachEverywhere(*node, invalidations);
      tree_.collect(*node);
    }
  }
  for (const auto& identifier : stale) cache_.drop(identifier);
  return invalidations;
}

std::vector<Invalidation> DomainFileSystem::containerSignalled(const ItemIdentifier& container) {
  calls_.reachable();
  std::vector<Invalidation> invalidations;
  std::lock_guard lock(mutex_);
  if (Node* node = tree_.find(container); node && node->directory) tree_.dropListing(*node, false, invalidations);
  return invalidations;
}

std::vector<Invalidation> DomainFileSystem::forgetBelow(const ItemIdentifier& item) {
  std::vector<Invalidation> invalidations;
  std::lock_guard lock(mutex_);
  Node* node = tree_.find(item);
  if (!node) return invalidations;
  // Fetched contents stay: they are kept by content version, which the fresh
  // listings compare. Listings are read afresh, and shown as they were while
  // that cannot be done.
  if (node->directory) {
    tree_.markStale(*node, invalidations);
  } else {
    invalidations.push_back({0, {}, node->inode});
  }
  return invalidations;
}

}  // namespace ostrel::fileprovider
