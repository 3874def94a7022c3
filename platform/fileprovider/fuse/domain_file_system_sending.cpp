// Sending what the user wrote: creations and saves, one at a time on the
// sender's thread, until the service has the latest bytes or refuses them.
#include <algorithm>
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
  using State = LocalStore::Entry::State;
  entry.state = awaitsContents(error) ? State::awaitingContents : worthRetrying(error) ? State::waiting : State::kept;
  local_.save(entry);
  if (entry.state == State::awaitingContents) {
    log_.notice("%{public}s of %{public}s waits for its contents; kept local", {what, entry.name});
  } else if (entry.state == State::waiting) {
    log_.notice("%{public}s of %{public}s did not reach the service (%{public}s); kept local and sent again later",
                {what, entry.name, describe(error)});
  } else {
    log_.error("%{public}s of %{public}s failed (%{public}s); kept local at %{public}s",
               {what, entry.name, describe(error), local_.bytes(entry).string()});
  }
}

void DomainFileSystem::queueSend(const std::string& token) {
  sender_.post([this, token] { sendLocal(token); });
}

size_t DomainFileSystem::sendWaiting() {
  std::lock_guard lock(mutex_);
  std::vector<LocalStore::Entry*> waiting;
  for (auto* entry : local_.all()) {
    if (entry->state != LocalStore::Entry::State::waiting || entry->directory || entry->sending) continue;
    if (Node* node = tree_.find(entry->identifier); node && node->writers > 0) continue;
    waiting.push_back(entry);
  }
  std::ranges::sort(waiting, {}, &LocalStore::Entry::order);
  for (auto* entry : waiting) {
    log_.notice("sending %{public}s again", {entry->name});
    // Pending until the send ends, so that no other round sends it too.
    entry->state = LocalStore::Entry::State::pending;
    ++entry->generation;
    queueSend(entry->token);
  }
  return waiting.size();
}

void DomainFileSystem::serviceAnswered() {
  calls_.reachable();
  sendWaiting();
}

std::vector<DomainFileSystem::UnsentEdit> DomainFileSystem::unsentEdits() {
  std::lock_guard lock(mutex_);
  auto entries = local_.all();
  std::ranges::sort(entries, {}, &LocalStore::Entry::order);
  std::vector<UnsentEdit> unsent;
  for (const auto* entry : entries) {
    if (entry->directory || isLocalOnlyName(entry->name)) continue;
    unsent.push_back({entry->name, LocalStore::stateName(entry->state)});
  }
  return unsent;
}

void DomainFileSystem::sendLocal(const std::string& token) {
  std::unique_lock lock(mutex_);
  auto* entry = local_.find(token);
  if (!entry || entry->sending) return;
  entry->sending = true;
  for (;;) {
    entry = local_.find(token);
    if (!entry) break;
    // Kept from an earlier run, an entry may have no node yet: nothing listed its folder.
    Node* node = &tree_.addLocal(entry->identifier, entry->name, entry->directory);
    node->localToken = entry->token;
    if (node->writers > 0 || entry->generation == entry->sentGeneration) break;
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
  auto* entry = local_.find(token);
  if (entry && !answerFits(*item, entry->parent, entry->directory)) {
    // An answer naming a root or a folder above cannot be this item: the bytes stay here.
    std::error_code ignored;
    std::filesystem::remove(snapshot, ignored);
    log_.error("the service answered %{public}s with %{public}s", {entry->name, item->itemIdentifier().rawValue});
    keepLocal(*entry, FileProviderError::make(FileProviderError::cannotSynchronize), created ? "creating" : "saving");
    return true;
  }
  // The bytes just sent are the contents of the version the service answered with.
  cache_.adopt(item->itemIdentifier(), contentVersionOf(*item), snapshot);
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
