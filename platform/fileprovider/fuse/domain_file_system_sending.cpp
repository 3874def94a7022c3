// Sending what the user wrote: creations and saves, one at a time on the
// sender's thread, until the service has the latest bytes or refuses them.
#include <cerrno>

#include "platform/fileprovider/fuse/domain_file_system.h"
#include "platform/fileprovider/fuse/file_system_support.h"
#include "platform/fileprovider/fuse/item_snapshot.h"
#include "platform/fileprovider/fuse/local_only_names.h"

namespace ostrel::fileprovider {

namespace {

constexpr uint32_t newItemFields = contentsField | filenameField | parentItemIdentifierField;

}  // namespace

void DomainFileSystem::keepLocal(LocalStore::Entry& entry, const Error& error, const char* what) {
  entry.state = awaitsContents(error) ? LocalStore::Entry::State::awaitingContents : LocalStore::Entry::State::kept;
  local_.save(entry);
  if (entry.state == LocalStore::Entry::State::awaitingContents) {
    log_.notice("%{public}s of %{public}s waits for its contents; kept local", {what, entry.name});
  } else {
    log_.error("%{public}s of %{public}s failed (%{public}s); kept local at %{public}s",
               {what, entry.name, describe(error), local_.bytes(entry).string()});
  }
}

void DomainFileSystem::queueSend(const std::string& token) {
  sender_.post([this, token] { sendLocal(token); });
}

void DomainFileSystem::sendLocal(const std::string& token) {
  std::unique_lock lock(mutex_);
  auto* entry = local_.find(token);
  if (!entry || entry->sending) return;
  entry->sending = true;
  for (;;) {
    entry = local_.find(token);
    if (!entry) break;
    Node* node = tree_.find(entry->identifier);
    if (!node || node->writers > 0 || entry->generation == entry->sentGeneration) break;
    const uint64_t generation = entry->generation;
    entry->sentGeneration = generation;
    const bool created = entry->kind == LocalStore::Entry::Kind::created;
    // A scratch file stays here; renamed to a final name, it is sent under that name.
    if (created && isLocalOnlyName(entry->name)) break;
    if (LocalStore::isLocalIdentifier(entry->parent)) {
      // Its folder exists only here, so the service has nowhere to put it.
      entry->state = LocalStore::Entry::State::kept;
      local_.save(*entry);
      log_.notice("%{public}s is in a folder kept local; kept local", {entry->name});
      break;
    }
    // The extension gets a snapshot: the user may write again while it is sent.
    const auto snapshot = storage_.temporaryDirectory() / ("send-" + token + "-" + std::to_string(generation));
    if (!copyFile(local_.bytes(*entry), snapshot)) {
      keepLocal(*entry, POSIXError::make(EIO), "saving");
      break;
    }
    const auto kind = created ? "creating" : "saving";
    ItemPtr request;
    const ItemVersion base = entry->baseVersion;
    if (created) {
      request = std::make_shared<ItemSnapshot>(ItemSnapshot::newItem(entry->parent, entry->name, false));
    } else {
      auto snapshotItem = node->item ? ItemSnapshot::of(*node->item) : ItemSnapshot{};
      snapshotItem.identifier = entry->identifier;
      snapshotItem.name = entry->name;
      snapshotItem.parent = entry->parent;
      request = std::make_shared<ItemSnapshot>(std::move(snapshotItem));
    }
    lock.unlock();
    auto answer = created ? calls_.createItem(request, newItemFields, snapshot)
                          : calls_.modifyItem(request, base, contentsField, snapshot);
    lock.lock();

    if (!answer) {
      std::error_code ignored;
      std::filesystem::remove(snapshot, ignored);
      if ((entry = local_.find(token))) keepLocal(*entry, answer.error(), kind);
      break;
    }
    if (settleSend(token, generation, created, base, *answer, snapshot)) break;
  }
  if ((entry = local_.find(token))) entry->sending = false;
  sendSettled_.notify_all();
}

bool DomainFileSystem::settleSend(const std::string& token, uint64_t generation, bool created,
                                  const ItemVersion& base, const ItemPtr& item,
                                  const std::filesystem::path& snapshot) {
  // The bytes just sent are the contents of the version the service answered with.
  cache_.adopt(item->itemIdentifier(), contentVersionOf(*item), snapshot);
  auto* entry = local_.find(token);
  Node* node = entry ? tree_.find(entry->identifier) : nullptr;
  if (!entry || !node) return true;
  const ItemIdentifier folder = entry->parent;
  // The service may keep the edited item as it was and file the bytes as a
  // new item (a version's edit becomes a draft): the edited item stays, and
  // the folders that list the new item show it.
  const bool filedElsewhere = !created && item->itemIdentifier() != node->identifier;
  // A new file may become something inside a new container (a document of
  // versions): the folder shows what the service made, not the file.
  const bool createdInside = created && item->parentItemIdentifier() != folder;
  if (created) {
    tree_.rename(*node, item->itemIdentifier());
    log_.notice("created %{public}s as %{public}s", {entry->name, item->itemIdentifier().rawValue});
  } else if (filedElsewhere) {
    log_.notice("saved %{public}s as %{public}s", {entry->name, item->itemIdentifier().rawValue});
  } else {
    superseded_.modified(item->itemIdentifier(), base);
  }
  if (!filedElsewhere) node->item = item;
  const bool settled = entry->generation == generation;
  if (settled) {
    node->localToken.reset();
    local_.remove(token);
  } else {
    // Written again meanwhile: what is newer goes as an edit of what the service now has.
    entry->kind = LocalStore::Entry::Kind::edited;
    if (!filedElsewhere) {
      entry->identifier = item->itemIdentifier();
      entry->baseVersion = versionOf(*item);
    }
    entry->state = LocalStore::Entry::State::pending;
    local_.save(*entry);
  }
  // What the kernel and the listings must learn; the node may go once collected.
  const Inode inode = node->inode;
  const std::optional<ItemIdentifier> container =
      node->item ? std::optional(node->item->parentItemIdentifier()) : std::nullopt;
  std::vector<Invalidation> invalidations{{0, {}, inode}};
  if (createdInside) tree_.detachEverywhere(*node, invalidations);
  tree_.collect(*node);
  notifyKernel(std::move(invalidations));
  if (filedElsewhere) {
    relistContainer(container);
    relistContainer(item->parentItemIdentifier());
  } else if (createdInside) {
    relistContainer(folder);
  }
  return settled;
}

}  // namespace ostrel::fileprovider
