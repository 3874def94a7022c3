// Changes of the tree the user makes: folders, renames and moves, deletions.
#include <cerrno>

#include "platform/fileprovider/fuse/domain_file_system.h"
#include "platform/fileprovider/fuse/errno_mapping.h"
#include "platform/fileprovider/fuse/file_system_support.h"
#include "platform/fileprovider/fuse/item_snapshot.h"
#include "platform/fileprovider/fuse/local_only_names.h"

namespace ostrel::fileprovider {

namespace {

bool deletable(const Item& item) {
  return item.capabilities() & (allowsDeleting | allowsTrashing);
}

}  // namespace

FsResult<DomainFileSystem::Entry> DomainFileSystem::makeDirectory(Inode parent, const std::string& name) {
  if (auto listed = ensureListed(parent); !listed) return std::unexpected(listed.error());
  ItemIdentifier parentIdentifier;
  {
    std::lock_guard lock(mutex_);
    Node* container = tree_.find(parent);
    if (!container || container->vanished) return std::unexpected(ENOENT);
    if (tree_.child(*container, name)) return std::unexpected(EEXIST);
    if (container->item && !(container->item->capabilities() & allowsWriting)) return std::unexpected(EACCES);
    parentIdentifier = container->identifier;
  }
  std::expected<ItemPtr, Error> created = std::unexpected(FileProviderError::make(FileProviderError::excludedFromSync));
  if (!LocalStore::isLocalIdentifier(parentIdentifier) && !isLocalOnlyName(name)) {
    auto folder = std::make_shared<ItemSnapshot>(ItemSnapshot::newItem(parentIdentifier, name, true));
    created = calls_.createItem(folder, filenameField | parentItemIdentifierField, std::nullopt);
  }
  std::lock_guard lock(mutex_);
  Node* container = tree_.find(parent);
  if (!container) return std::unexpected(ENOENT);
  std::vector<Invalidation> ignored;
  if (created && !answerFits(**created, parentIdentifier, true)) {
    log_.error("the service answered the new folder %{public}s with %{public}s",
               {name, (*created)->itemIdentifier().rawValue});
    created = std::unexpected(FileProviderError::make(FileProviderError::excludedFromSync));
  }
  if (created) {
    Node& node = tree_.upsert(*created);
    tree_.place(node, *container, ignored);
    tree_.remember(node);
    return entryOf(node);
  }
  const Error& error = created.error();
  const bool keptLocal = error.is(FileProviderError::domain, FileProviderError::excludedFromSync) || awaitsContents(error);
  if (!keptLocal) return std::unexpected(errnoForError(error));
  // A folder the service will not take still holds what the user puts in it.
  auto& entry = local_.addCreated(parentIdentifier, name, true);
  entry.state = LocalStore::Entry::State::kept;
  local_.save(entry);
  if (!isLocalOnlyName(name)) log_.notice("folder %{public}s kept local (%{public}s)", {name, describe(error)});
  Node& node = tree_.addLocal(entry.identifier, name, true);
  node.localToken = entry.token;
  tree_.attach(node, *container, name, ignored);
  tree_.remember(node);
  return entryOf(node);
}

void DomainFileSystem::discardNode(Node& node) {
  if (node.localToken) local_.remove(*node.localToken);
  node.localToken.reset();
  node.vanished = true;
  std::vector<Invalidation> ignored;  // the kernel dropped the entry itself
  tree_.detachEverywhere(node, ignored);
  tree_.collect(node);
}

bool DomainFileSystem::holdsLocalBytes(const Node& node) {
  if (node.localToken || local_.holdsAnythingIn(node.identifier)) return true;
  for (const auto& [name, inode] : node.children) {
    const Node* child = tree_.find(inode);
    if (child && child->parent == node.inode && holdsLocalBytes(*child)) return true;
  }
  return false;
}

bool DomainFileSystem::goesWithContents(const Node& container) {
  for (const auto& [name, inode] : container.children) {
    const Node* child = tree_.find(inode);
    if (!child || !child->item || deletable(*child->item) || holdsLocalBytes(*child)) return false;
  }
  return true;
}

Node* DomainFileSystem::deletableContainer(Node& node) {
  for (Node* at = &node; at; at = at->inode == rootInode || at->parent == 0 ? nullptr : tree_.find(at->parent)) {
    if (at->directory && at->item && deletable(*at->item)) return at;
  }
  return nullptr;
}

bool DomainFileSystem::holdForContainer(Node& node, Node& parent, pid_t caller) {
  Node* container = deletableContainer(parent);
  if (!container || caller <= 0 || !walks(caller, parent.inode) || !walks(caller, container->inode) ||
      holdsLocalBytes(node)) {
    if (container)
      log_.notice("%{public}s is not deleted on its own; removing %{public}s deletes it with the rest",
                  {node.name, container->name});
    return false;
  }
  log_.notice("%{public}s goes when %{public}s is removed", {node.name, container->name});
  std::vector<Invalidation> ignored;  // the kernel dropped the entry itself
  tree_.removeFrom(node, parent, ignored);
  tree_.collect(node);
  held_[caller].insert(parent.inode);
  return true;
}

FsResult<void> DomainFileSystem::removeNode(Inode parent, const std::string& name, bool directory, pid_t caller) {
  Inode inode = 0;
  {
    std::lock_guard lock(mutex_);
    Node* container = tree_.find(parent);
    Node* node = container ? tree_.child(*container, name) : nullptr;
    if (!node) return std::unexpected(ENOENT);
    if (directory && !node->directory) return std::unexpected(ENOTDIR);
    if (!directory && node->directory) return std::unexpected(EISDIR);
    inode = node->inode;
  }
  if (directory) {
    if (auto listed = ensureListed(inode); !listed) return std::unexpected(listed.error());
  }
  ItemIdentifier identifier;
  ItemVersion base;
  {
    std::lock_guard lock(mutex_);
    Node* node = tree_.find(inode);
    if (!node) return std::unexpected(ENOENT);
    if (!node->item) {
      if (directory && !node->children.empty()) return std::unexpected(ENOTEMPTY);
      discardNode(*node);
      return {};
    }
    if (!deletable(*node->item)) {
      Node* container = tree_.find(parent);
      if (container && holdForContainer(*node, *container, caller)) return {};
      return std::unexpected(EPERM);
    }
    // A container whose items cannot go on their own goes with them, as the service deletes it.
    if (directory && !node->children.empty() && !goesWithContents(*node)) return std::unexpected(ENOTEMPTY);
    identifier = node->identifier;
    base = versionOf(*node->item);
  }
  auto deleted = calls_.deleteItem(identifier, base);
  if (!deleted) {
    log_.error("deleting %{public}s failed: %{public}s", {identifier.rawValue, describe(deleted.error())});
    return std::unexpected(errnoForError(deleted.error()));
  }
  std::vector<ItemIdentifier> gone{identifier};
  {
    std::lock_guard lock(mutex_);
    superseded_.deleted(identifier);
    if (Node* node = tree_.find(identifier)) {
      std::vector<Invalidation> invalidations;
      if (node->directory) tree_.dropListing(*node, true, invalidations, &gone);
      notifyKernel(std::move(invalidations));
      // The user asked for the item to go, local edits included.
      discardNode(*node);
    }
  }
  for (const auto& item : gone) cache_.drop(item);
  return {};
}

FsResult<void> DomainFileSystem::remove(Inode parent, const std::string& name, bool directory, pid_t caller) {
  if (auto listed = ensureListed(parent); !listed) return std::unexpected(listed.error());
  return removeNode(parent, name, directory, caller);
}

void DomainFileSystem::awaitSettledSend(Inode parent, const std::string& name) {
  for (int round = 0; round < 3; ++round) {
    if (!ensureListed(parent)) return;
    std::unique_lock lock(mutex_);
    Node* from = tree_.find(parent);
    Node* node = from ? tree_.child(*from, name) : nullptr;
    if (!node || node->item || !node->localToken) return;
    const std::string token = *node->localToken;
    auto sending = [&] {
      auto* entry = local_.find(token);
      return entry && entry->sending;
    };
    if (!sending()) return;
    sendSettled_.wait_for(lock, options_.callTimeout, [&] { return !sending(); });
  }
}

FsResult<void> DomainFileSystem::renameLocal(Node& node, Node& to, const std::string& newName) {
  auto* entry = node.localToken ? local_.find(*node.localToken) : nullptr;
  const std::string oldName = node.name;
  std::vector<Invalidation> ignored;  // the kernel renames its own entries
  tree_.attach(node, to, newName, ignored);
  if (!entry) return {};
  entry->name = newName;
  entry->parent = to.identifier;
  // Written under a scratch name, or refused before: it goes under its final name.
  const bool send = entry->kind == LocalStore::Entry::Kind::created && !entry->directory &&
                    !isLocalOnlyName(newName) &&
                    (isLocalOnlyName(oldName) || entry->state != LocalStore::Entry::State::pending);
  if (send) {
    entry->state = LocalStore::Entry::State::pending;
    ++entry->generation;
  }
  local_.save(*entry);
  if (send && node.writers == 0) queueSend(entry->token);
  return {};
}

FsResult<void> DomainFileSystem::saveOver(Node& node, Node& target, Node& to, const std::string& newName) {
  if (!(target.item->capabilities() & allowsWriting)) return std::unexpected(EPERM);
  auto* entry = node.localToken ? local_.find(*node.localToken) : nullptr;
  if (!entry || entry->directory) return std::unexpected(EIO);
  // What the target held locally is replaced, as rename(2) replaces a file.
  if (target.localToken && *target.localToken != entry->token) {
    local_.remove(*target.localToken);
    target.localToken.reset();
  }
  log_.notice("%{public}s saved over %{public}s", {entry->name, target.name});
  entry->kind = LocalStore::Entry::Kind::edited;
  entry->identifier = target.identifier;
  entry->parent = target.item->parentItemIdentifier();
  entry->name = target.name;
  entry->baseVersion = versionOf(*target.item);
  entry->state = LocalStore::Entry::State::pending;
  ++entry->generation;
  local_.save(*entry);
  // As in the kernel, the renamed file is the target from now on; the inode
  // the target had lives on only for those who still hold it.
  const ItemPtr item = target.item;
  tree_.rename(node, target.identifier);
  node.item = item;
  std::vector<Invalidation> ignored;  // the kernel renames its own entries
  tree_.attach(node, to, newName, ignored);
  // Otherwise the last writer's close sends it.
  if (node.writers == 0) queueSend(entry->token);
  return {};
}

FsResult<void> DomainFileSystem::rename(Inode parent, const std::string& name, Inode newParent,
                                        const std::string& newName, bool noReplace) {
  if (auto listed = ensureListed(parent); !listed) return std::unexpected(listed.error());
  if (auto listed = ensureListed(newParent); !listed) return std::unexpected(listed.error());
  awaitSettledSend(parent, name);
  bool replaces = false;
  bool targetIsDirectory = false;
  {
    std::lock_guard lock(mutex_);
    Node* from = tree_.find(parent);
    Node* to = tree_.find(newParent);
    Node* node = from ? tree_.child(*from, name) : nullptr;
    if (!node || !to) return std::unexpected(ENOENT);
    if (parent == newParent && name == newName) return {};
    Node* target = tree_.child(*to, newName);
    if (target == node) return {};
    if (target) {
      if (noReplace) return std::unexpected(EEXIST);
      if (target->directory != node->directory) return std::unexpected(node->directory ? ENOTDIR : EISDIR);
    }
    if (!node->item) {
      if (target && target->item) {
        if (target->directory) return std::unexpected(EPERM);
        return saveOver(*node, *target, *to, newName);
      }
      if (target) discardNode(*target);
      return renameLocal(*node, *to, newName);
    }
    if (target && !target->item) {
      discardNode(*target);
    } else if (target) {
      replaces = true;
      targetIsDirectory = target->directory;
    }
    // The service cannot hold an item inside a folder that exists only here.
    if (!to->item) return std::unexpected(EXDEV);
  }
  // What the name pointed to goes first, as rename(2) replaces it.
  if (replaces) {
    if (auto removed = removeNode(newParent, newName, targetIsDirectory, 0); !removed) return removed;
  }

  ItemPtr request;
  ItemVersion base;
  uint32_t fields = 0;
  {
    std::lock_guard lock(mutex_);
    Node* from = tree_.find(parent);
    Node* to = tree_.find(newParent);
    Node* node = from ? tree_.child(*from, name) : nullptr;
    if (!node || !to || !node->item) return std::unexpected(ENOENT);
    if (name != newName) fields |= filenameField;
    if (parent != newParent) fields |= parentItemIdentifierField;
    const uint32_t capabilities = node->item->capabilities();
    if (((fields & filenameField) && !(capabilities & allowsRenaming)) ||
        ((fields & parentItemIdentifierField) && !(capabilities & allowsReparenting)))
      return std::unexpected(EPERM);
    auto snapshot = ItemSnapshot::of(*node->item);
    snapshot.name = newName;
    snapshot.parent = to->identifier;
    request = std::make_shared<ItemSnapshot>(std::move(snapshot));
    base = versionOf(*node->item);
  }
  auto modified = calls_.modifyItem(request, base, fields, std::nullopt);
  if (!modified) {
    log_.error("moving %{public}s failed: %{public}s", {request->itemIdentifier().rawValue, describe(modified.error())});
    return std::unexpected(errnoForError(modified.error()));
  }
  std::lock_guard lock(mutex_);
  Node* node = tree_.find(request->itemIdentifier());
  Node* to = tree_.find(newParent);
  if (!node || !to) return {};
  std::vector<Invalidation> ignored;
  superseded_.modified(request->itemIdentifier(), base);
  superseded_.moved(request->itemIdentifier(), base.metadataVersion);
  node->item = *modified;
  tree_.place(*node, *to, ignored);
  if (auto* entry = node->localToken ? local_.find(*node->localToken) : nullptr) {
    entry->name = (*modified)->filename();
    entry->parent = to->identifier;
    local_.save(*entry);
  }
  return {};
}

}  // namespace ostrel::fileprovider
