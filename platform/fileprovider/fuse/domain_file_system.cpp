#include "platform/fileprovider/fuse/domain_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "platform/fileprovider/fuse/errno_mapping.h"
#include "platform/fileprovider/fuse/item_snapshot.h"

namespace ostrel::fileprovider {

namespace {

constexpr const char* logSubsystem = "local.ostrel.fileproviderd";
constexpr const char* xattrPrefix = "user.";
constexpr uint32_t newItemFields = contentsField | filenameField | parentItemIdentifierField;

std::string contentVersionOf(const Item& item) {
  auto version = item.itemVersion();
  return version ? version->contentVersion : std::string();
}

ItemVersion versionOf(const Item& item) {
  return item.itemVersion().value_or(ItemVersion{});
}

struct timespec timespecOf(Date date) {
  const auto millis = date.time_since_epoch().count();
  struct timespec instant {};
  instant.tv_sec = static_cast<time_t>(millis / 1000);
  instant.tv_nsec = static_cast<long>((millis % 1000) * 1000000);
  if (instant.tv_nsec < 0) {
    instant.tv_sec -= 1;
    instant.tv_nsec += 1000000000;
  }
  return instant;
}

bool awaitsContents(const Error& error) {
  return error.is(DriveError::domain, DriveError::contentsNotYetAvailable);
}

std::string describe(const Error& error) {
  return error.domain + " " + std::to_string(error.code) + ": " + error.localizedDescription();
}

// Copies a file through a fresh descriptor pair; no whole-file buffer.
bool copyFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  return !error;
}

// Roots that answer nothing useful are shown as a plain folder.
class FallbackRoot final : public Item {
 public:
  explicit FallbackRoot(std::string name) : name_(std::move(name)) {}
  ItemIdentifier itemIdentifier() const override { return rootContainerItemIdentifier; }
  ItemIdentifier parentItemIdentifier() const override { return rootContainerItemIdentifier; }
  std::string filename() const override { return name_; }
  std::optional<std::string> contentType() const override { return std::string(UTTypeFolder); }

 private:
  static constexpr const char* UTTypeFolder = "public.folder";
  std::string name_;
};

}  // namespace

std::expected<std::unique_ptr<DomainFileSystem>, Error> DomainFileSystem::create(
    std::shared_ptr<ReplicatedExtension> extension, Domain domain, DomainStorage storage, MountOptions options) {
  for (const auto& directory : {storage.temporaryDirectory(), storage.contentsDirectory(), storage.localOnlyDirectory()}) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) return std::unexpected(POSIXError::make(error.value()));
  }
  ItemPtr root;
  {
    ExtensionCalls calls(extension, options.callTimeout);
    auto answered = calls.item(rootContainerItemIdentifier);
    if (answered) {
      root = *answered;
    } else {
      Logger(logSubsystem, "mount").error("root of %{public}s unavailable: %{public}s",
                                          {domain.identifier, describe(answered.error())});
      root = std::make_shared<FallbackRoot>(domain.displayName);
    }
  }
  return std::unique_ptr<DomainFileSystem>(
      new DomainFileSystem(std::move(extension), std::move(domain), std::move(storage), options, std::move(root)));
}

DomainFileSystem::DomainFileSystem(std::shared_ptr<ReplicatedExtension> extension, Domain domain,
                                   DomainStorage storage, MountOptions options, ItemPtr root)
    : extension_(extension),
      domain_(std::move(domain)),
      storage_(std::move(storage)),
      options_(options),
      calls_(std::move(extension), options.callTimeout),
      cache_(storage_.contentsDirectory()),
      log_(logSubsystem, "mount"),
      uid_(::getuid()),
      gid_(::getgid()),
      tree_(std::move(root)),
      local_(storage_.localOnlyDirectory()) {
  ::clock_gettime(CLOCK_REALTIME, &mounted_);
  for (auto* entry : local_.all()) {
    log_.notice("%{public}s kept local from an earlier run", {entry->name});
  }
  std::vector<Invalidation> ignored;
  mergeLocal(*tree_.find(rootInode), ignored);
}

// Listings ---------------------------------------------------------------

FsResult<void> DomainFileSystem::ensureListed(Inode inode) {
  ItemIdentifier identifier;
  std::promise<FsResult<void>> promise;
  {
    std::unique_lock lock(mutex_);
    Node* node = tree_.find(inode);
    if (!node) return std::unexpected(ENOENT);
    if (!node->directory) return std::unexpected(ENOTDIR);
    if (node->listed) return {};
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
    if (!items) {
      log_.error("listing %{public}s failed: %{public}s", {identifier.rawValue, describe(items.error())});
      result = std::unexpected(errnoForError(items.error()));
    } else if (Node* node = tree_.find(identifier)) {
      // Entries new to the kernel need no invalidation: it asks for them.
      std::vector<Invalidation> ignored;
      tree_.install(*node, *items, ignored);
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

FsResult<uint64_t> DomainFileSystem::openListing(Inode inode) {
  auto entries = list(inode);
  if (!entries) return std::unexpected(entries.error());
  std::lock_guard lock(mutex_);
  const uint64_t id = ++nextHandle_;
  listings_.emplace(id, std::make_shared<const std::vector<DirectoryEntry>>(std::move(*entries)));
  return id;
}

std::shared_ptr<const std::vector<DomainFileSystem::DirectoryEntry>> DomainFileSystem::listing(uint64_t handle) {
  std::lock_guard lock(mutex_);
  auto found = listings_.find(handle);
  return found == listings_.end() ? nullptr : found->second;
}

void DomainFileSystem::closeListing(uint64_t handle) {
  std::lock_guard lock(mutex_);
  listings_.erase(handle);
}

// Attributes ---------------------------------------------------------------

struct stat DomainFileSystem::attributesOf(const Node& node) {
  struct stat attributes {};
  attributes.st_ino = node.inode;
  attributes.st_uid = uid_;
  attributes.st_gid = gid_;
  attributes.st_blksize = 4096;
  const uint32_t capabilities = node.item ? node.item->capabilities() : allowsReading | allowsWriting;
  const bool writable = capabilities & allowsWriting;
  attributes.st_mtim = attributes.st_ctim = attributes.st_atim = mounted_;
  if (node.item) {
    auto date = node.item->contentModificationDate();
    if (!date) date = node.item->creationDate();
    if (date) attributes.st_mtim = attributes.st_ctim = attributes.st_atim = timespecOf(*date);
  }
  if (node.directory) {
    attributes.st_mode = S_IFDIR | (writable ? 0755 : 0555);
    attributes.st_nlink = 2;
  } else {
    attributes.st_mode = S_IFREG | (writable ? 0644 : 0444);
    attributes.st_nlink = 1;
    attributes.st_size = node.item ? node.item->documentSize().value_or(0) : 0;
    if (node.localToken) {
      // The user's bytes are what the file holds until the service has them.
      if (auto* entry = local_.find(*node.localToken)) {
        struct stat local {};
        if (::stat(local_.bytes(*entry).c_str(), &local) == 0) {
          attributes.st_size = local.st_size;
          attributes.st_mtim = attributes.st_ctim = local.st_mtim;
        }
      }
    }
    attributes.st_blocks = (attributes.st_size + 511) / 512;
  }
  return attributes;
}

DomainFileSystem::Entry DomainFileSystem::entryOf(Node& node) {
  return Entry{node.inode, attributesOf(node)};
}

FsResult<struct stat> DomainFileSystem::attributes(Inode inode) {
  std::lock_guard lock(mutex_);
  Node* node = tree_.find(inode);
  if (!node) return std::unexpected(ENOENT);
  return attributesOf(*node);
}

// Contents ---------------------------------------------------------------

FsResult<ContentCache::Entry> DomainFileSystem::contentsOf(Inode inode) {
  ItemIdentifier identifier;
  std::string version;
  std::optional<ItemVersion> requested;
  {
    std::lock_guard lock(mutex_);
    Node* node = tree_.find(inode);
    if (!node || node->vanished || !node->item) return std::unexpected(ENOENT);
    identifier = node->identifier;
    version = contentVersionOf(*node->item);
    requested = node->item->itemVersion();
  }
  auto contents = cache_.obtain(identifier, version, [&] { return calls_.fetchContents(identifier, requested); });
  if (!contents) {
    log_.error("fetching %{public}s failed: %{public}s", {identifier.rawValue, describe(contents.error())});
    return std::unexpected(errnoForError(contents.error()));
  }
  if (contents->item) {
    std::lock_guard lock(mutex_);
    if (Node* node = tree_.find(identifier); node && !node->vanished) node->item = contents->item;
  }
  return *contents;
}

uint64_t DomainFileSystem::addHandle(OpenFile file) {
  std::lock_guard lock(mutex_);
  const uint64_t id = ++nextHandle_;
  open_.emplace(id, std::make_shared<OpenFile>(std::move(file)));
  return id;
}

std::shared_ptr<DomainFileSystem::OpenFile> DomainFileSystem::handle(uint64_t id) {
  std::lock_guard lock(mutex_);
  auto found = open_.find(id);
  return found == open_.end() ? nullptr : found->second;
}

FsResult<std::string> DomainFileSystem::stageEdit(Inode inode, bool truncate) {
  // The staged copy starts as the service's bytes, unless the writer throws them away.
  std::optional<std::filesystem::path> original;
  if (!truncate) {
    auto contents = contentsOf(inode);
    if (!contents) return std::unexpected(contents.error());
    original = contents->file;
  }
  std::lock_guard lock(mutex_);
  Node* node = tree_.find(inode);
  if (!node || node->vanished || !node->item) return std::unexpected(ENOENT);
  if (node->localToken) return *node->localToken;
  auto& entry = local_.addEdited(node->identifier, node->item->parentItemIdentifier(), node->name, versionOf(*node->item));
  const auto staged = local_.bytes(entry);
  if (original ? !copyFile(*original, staged)
               : !UniqueFd(::open(staged.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600)).valid()) {
    local_.remove(entry.token);
    return std::unexpected(EIO);
  }
  node->localToken = entry.token;
  return entry.token;
}

FsResult<uint64_t> DomainFileSystem::open(Inode inode, int flags) {
  const bool wantsWrite = (flags & O_ACCMODE) != O_RDONLY;
  const bool truncate = wantsWrite && (flags & O_TRUNC);
  std::optional<std::string> token;
  {
    std::lock_guard lock(mutex_);
    Node* node = tree_.find(inode);
    if (!node || node->vanished) return std::unexpected(ENOENT);
    if (node->directory) return std::unexpected(EISDIR);
    if (wantsWrite && node->item && !(node->item->capabilities() & allowsWriting)) return std::unexpected(EACCES);
    token = node->localToken;
  }
  if (!token && wantsWrite) {
    auto staged = stageEdit(inode, truncate);
    if (!staged) return std::unexpected(staged.error());
    token = *staged;
  }
  if (token) {
    std::lock_guard lock(mutex_);
    Node* node = tree_.find(inode);
    auto* entry = local_.find(*token);
    if (!node || !entry) return std::unexpected(ENOENT);
    const int mode = wantsWrite ? O_RDWR | (truncate ? O_TRUNC : 0) : O_RDONLY;
    UniqueFd fd(::open(local_.bytes(*entry).c_str(), mode | O_CLOEXEC));
    if (!fd) return std::unexpected(errno);
    if (wantsWrite) ++node->writers;
    const uint64_t id = ++nextHandle_;
    open_.emplace(id, std::make_shared<OpenFile>(OpenFile{std::move(fd), inode, token, wantsWrite, truncate}));
    return id;
  }
  // A newer version may replace the cached file between fetch and open: fetch again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto contents = contentsOf(inode);
    if (!contents) return std::unexpected(contents.error());
    UniqueFd fd(::open(contents->file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd) return addHandle(OpenFile{std::move(fd), inode, std::nullopt, false, false});
  }
  return std::unexpected(EIO);
}

FsResult<std::pair<DomainFileSystem::Entry, uint64_t>> DomainFileSystem::create(Inode parent, const std::string& name,
                                                                               int) {
  if (auto listed = ensureListed(parent); !listed) return std::unexpected(listed.error());
  std::lock_guard lock(mutex_);
  Node* container = tree_.find(parent);
  if (!container || container->vanished) return std::unexpected(ENOENT);
  if (tree_.child(*container, name)) return std::unexpected(EEXIST);
  if (container->item && !(container->item->capabilities() & allowsWriting)) return std::unexpected(EACCES);
  auto& entry = local_.addCreated(container->identifier, name, false);
  UniqueFd fd(::open(local_.bytes(entry).c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    local_.remove(entry.token);
    return std::unexpected(error);
  }
  Node& node = tree_.addLocal(entry.identifier, name, false);
  node.localToken = entry.token;
  std::vector<Invalidation> ignored;
  tree_.attach(node, *container, name, ignored);
  tree_.remember(node);
  ++node.writers;
  const uint64_t id = ++nextHandle_;
  open_.emplace(id, std::make_shared<OpenFile>(OpenFile{std::move(fd), node.inode, entry.token, true, true}));
  return std::pair{entryOf(node), id};
}

FsResult<int> DomainFileSystem::readDescriptor(uint64_t id) {
  auto file = handle(id);
  if (!file) return std::unexpected(EBADF);
  return file->fd.get();
}

FsResult<size_t> DomainFileSystem::write(uint64_t id, const char* data, size_t size, off_t offset) {
  auto file = handle(id);
  if (!file || !file->writable) return std::unexpected(EBADF);
  const ssize_t written = ::pwrite(file->fd.get(), data, size, offset);
  if (written < 0) return std::unexpected(errno);
  std::lock_guard lock(mutex_);
  file->dirty = true;
  return static_cast<size_t>(written);
}

FsResult<struct stat> DomainFileSystem::truncate(Inode inode, off_t size, std::optional<uint64_t> id) {
  if (id) {
    if (auto file = handle(*id); file && file->writable) {
      if (::ftruncate(file->fd.get(), size) != 0) return std::unexpected(errno);
      {
        std::lock_guard lock(mutex_);
        file->dirty = true;
      }
      return attributes(inode);
    }
  }
  // A truncation by path is an open, a truncation and a close.
  auto opened = open(inode, O_WRONLY | (size == 0 ? O_TRUNC : 0));
  if (!opened) return std::unexpected(opened.error());
  auto file = handle(*opened);
  const int result = ::ftruncate(file->fd.get(), size) == 0 ? 0 : errno;
  {
    std::lock_guard lock(mutex_);
    file->dirty = true;
  }
  release(*opened);
  if (result) return std::unexpected(result);
  return attributes(inode);
}

void DomainFileSystem::release(uint64_t id) {
  std::optional<std::string> send;
  {
    std::lock_guard lock(mutex_);
    auto found = open_.find(id);
    if (found == open_.end()) return;
    auto file = found->second;
    open_.erase(found);
    if (!file->writable) return;
    Node* node = tree_.find(file->inode);
    if (node && node->writers > 0) --node->writers;
    auto* entry = file->token ? local_.find(*file->token) : nullptr;
    if (entry && file->dirty) ++entry->generation;
    if (entry && node && node->writers == 0 && entry->generation != entry->sentGeneration) send = entry->token;
    if (node) tree_.collect(*node);
  }
  if (send) sendLocal(*send);
}

// Sending what the user wrote ------------------------------------------------

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

void DomainFileSystem::sendLocal(const std::string& token) {
  std::unique_lock lock(mutex_);
  auto* entry = local_.find(token);
  if (!entry || entry->sending) return;
  entry->sending = true;
  for (;;) {
    entry = local_.find(token);
    if (!entry) return;
    Node* node = tree_.find(entry->identifier);
    if (!node || node->writers > 0 || entry->generation == entry->sentGeneration) break;
    const uint64_t generation = entry->generation;
    entry->sentGeneration = generation;
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
    const bool created = entry->kind == LocalStore::Entry::Kind::created;
    const auto kind = created ? "creating" : "saving";
    ItemPtr request;
    ItemVersion base = entry->baseVersion;
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

    entry = local_.find(token);
    if (!answer) {
      std::error_code ignored;
      std::filesystem::remove(snapshot, ignored);
      if (entry) keepLocal(*entry, answer.error(), kind);
      break;
    }
    const ItemPtr item = *answer;
    // The bytes just sent are the contents of the version the service answered with.
    cache_.adopt(item->itemIdentifier(), contentVersionOf(*item), snapshot);
    node = entry ? tree_.find(entry->identifier) : nullptr;
    if (!entry || !node) break;
    // The service may keep the edited item as it was and file the bytes as a
    // new item (a version's edit becomes a draft): the edited item stays, and
    // its folder is listed afresh to show where the bytes went.
    const bool filedElsewhere = !created && item->itemIdentifier() != node->identifier;
    std::optional<ItemIdentifier> relist;
    if (created) {
      tree_.rename(*node, item->itemIdentifier());
      log_.notice("created %{public}s as %{public}s", {entry->name, item->itemIdentifier().rawValue});
    } else if (filedElsewhere) {
      relist = node->item ? node->item->parentItemIdentifier() : entry->parent;
      log_.notice("saved %{public}s as %{public}s", {entry->name, item->itemIdentifier().rawValue});
    } else {
      superseded_.modified(item->itemIdentifier(), base);
    }
    if (!filedElsewhere) node->item = item;
    if (entry->generation == generation) {
      node->localToken.reset();
      local_.remove(token);
      tree_.collect(*node);
      relistContainer(relist);
      return;
    }
    // Written again meanwhile: what is newer goes as an edit of what the service now has.
    entry->kind = LocalStore::Entry::Kind::edited;
    if (!filedElsewhere) {
      entry->identifier = item->itemIdentifier();
      entry->baseVersion = versionOf(*item);
    }
    entry->state = LocalStore::Entry::State::pending;
    local_.save(*entry);
    relistContainer(relist);
  }
  if ((entry = local_.find(token))) entry->sending = false;
}

// Changes of the tree ------------------------------------------------------------

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
  if (!LocalStore::isLocalIdentifier(parentIdentifier)) {
    auto folder = std::make_shared<ItemSnapshot>(ItemSnapshot::newItem(parentIdentifier, name, true));
    created = calls_.createItem(folder, filenameField | parentItemIdentifierField, std::nullopt);
  }
  std::lock_guard lock(mutex_);
  Node* container = tree_.find(parent);
  if (!container) return std::unexpected(ENOENT);
  std::vector<Invalidation> ignored;
  if (created) {
    Node& node = tree_.upsert(*created);
    tree_.attach(node, *container, (*created)->filename(), ignored);
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
  log_.notice("folder %{public}s kept local (%{public}s)", {name, describe(error)});
  Node& node = tree_.addLocal(entry.identifier, name, true);
  node.localToken = entry.token;
  tree_.attach(node, *container, name, ignored);
  tree_.remember(node);
  return entryOf(node);
}

void DomainFileSystem::relistContainer(const std::optional<ItemIdentifier>& container) {
  if (!container) return;
  Node* node = tree_.find(*container);
  if (!node || !node->directory) return;
  std::vector<Invalidation> ignored;  // kernel entries lapse within the cache time
  tree_.dropListing(*node, false, ignored);
}

void DomainFileSystem::discardNode(Node& node) {
  if (node.localToken) local_.remove(*node.localToken);
  node.localToken.reset();
  node.vanished = true;
  std::vector<Invalidation> ignored;  // the kernel dropped the entry itself
  tree_.detach(node, ignored);
  tree_.collect(node);
}

FsResult<void> DomainFileSystem::removeNode(Inode parent, const std::string& name, bool directory) {
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
    if (directory && !node->children.empty()) return std::unexpected(ENOTEMPTY);
    if (!node->item) {
      discardNode(*node);
      return {};
    }
    if (!(node->item->capabilities() & (allowsDeleting | allowsTrashing))) return std::unexpected(EACCES);
    identifier = node->identifier;
    base = versionOf(*node->item);
  }
  auto deleted = calls_.deleteItem(identifier, base);
  if (!deleted) {
    log_.error("deleting %{public}s failed: %{public}s", {identifier.rawValue, describe(deleted.error())});
    return std::unexpected(errnoForError(deleted.error()));
  }
  cache_.drop(identifier);
  std::lock_guard lock(mutex_);
  superseded_.deleted(identifier);
  if (Node* node = tree_.find(identifier)) {
    // The user asked for the item to go, local edits included.
    discardNode(*node);
  }
  return {};
}

FsResult<void> DomainFileSystem::remove(Inode parent, const std::string& name, bool directory) {
  if (auto listed = ensureListed(parent); !listed) return std::unexpected(listed.error());
  return removeNode(parent, name, directory);
}

FsResult<void> DomainFileSystem::rename(Inode parent, const std::string& name, Inode newParent,
                                        const std::string& newName, bool noReplace) {
  if (auto listed = ensureListed(parent); !listed) return std::unexpected(listed.error());
  if (auto listed = ensureListed(newParent); !listed) return std::unexpected(listed.error());
  bool replaces = false;
  bool targetIsDirectory = false;
  {
    std::lock_guard lock(mutex_);
    Node* from = tree_.find(parent);
    Node* to = tree_.find(newParent);
    Node* node = from ? tree_.child(*from, name) : nullptr;
    if (!node || !to) return std::unexpected(ENOENT);
    if (parent == newParent && name == newName) return {};
    if (Node* target = tree_.child(*to, newName)) {
      if (noReplace) return std::unexpected(EEXIST);
      if (target->directory != node->directory) return std::unexpected(node->directory ? ENOTDIR : EISDIR);
      replaces = true;
      targetIsDirectory = target->directory;
    }
    // The service cannot hold an item inside a folder that exists only here.
    if (node->item && !to->item) return std::unexpected(EXDEV);
  }
  // What the name pointed to goes first, as rename(2) replaces it.
  if (replaces) {
    if (auto removed = removeNode(newParent, newName, targetIsDirectory); !removed) return removed;
  }

  ItemPtr request;
  ItemVersion base;
  uint32_t fields = 0;
  {
    std::lock_guard lock(mutex_);
    Node* from = tree_.find(parent);
    Node* to = tree_.find(newParent);
    Node* node = from ? tree_.child(*from, name) : nullptr;
    if (!node || !to) return std::unexpected(ENOENT);
    std::vector<Invalidation> ignored;
    auto* entry = node->localToken ? local_.find(*node->localToken) : nullptr;
    if (!node->item) {
      if (entry) {
        entry->name = newName;
        entry->parent = to->identifier;
        local_.save(*entry);
      }
      tree_.attach(*node, *to, newName, ignored);
      return {};
    }
    if (name != newName) fields |= filenameField;
    if (parent != newParent) fields |= parentItemIdentifierField;
    const uint32_t capabilities = node->item->capabilities();
    if (((fields & filenameField) && !(capabilities & allowsRenaming)) ||
        ((fields & parentItemIdentifierField) && !(capabilities & allowsReparenting)))
      return std::unexpected(EACCES);
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
  node->item = *modified;
  tree_.attach(*node, *to, (*modified)->filename(), ignored);
  if (auto* entry = node->localToken ? local_.find(*node->localToken) : nullptr) {
    entry->name = (*modified)->filename();
    entry->parent = to->identifier;
    local_.save(*entry);
  }
  return {};
}

// Extended attributes ----------------------------------------------------------

FsResult<std::string> DomainFileSystem::extendedAttribute(Inode inode, const std::string& name) {
  std::lock_guard lock(mutex_);
  Node* node = tree_.find(inode);
  if (!node) return std::unexpected(ENOENT);
  if (!name.starts_with(xattrPrefix) || !node->item) return std::unexpected(ENODATA);
  const auto attributes = node->item->extendedAttributes();
  auto found = attributes.find(name.substr(std::string_view(xattrPrefix).size()));
  if (found == attributes.end()) return std::unexpected(ENODATA);
  return found->second;
}

FsResult<std::vector<std::string>> DomainFileSystem::extendedAttributeNames(Inode inode) {
  std::lock_guard lock(mutex_);
  Node* node = tree_.find(inode);
  if (!node) return std::unexpected(ENOENT);
  std::vector<std::string> names;
  if (node->item) {
    for (const auto& [name, value] : node->item->extendedAttributes()) names.push_back(xattrPrefix + name);
  }
  return names;
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
        if (parent && parent->listed) {
          tree_.attach(*node, *parent, item->filename(), invalidations);
        } else {
          tree_.detach(*node, invalidations);
          tree_.collect(*node);
        }
      } else if (parent && parent->listed) {
        Node& made = tree_.upsert(item);
        tree_.attach(made, *parent, item->filename(), invalidations);
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
      tree_.detach(*node, invalidations);
      tree_.collect(*node);
    }
  }
  for (const auto& identifier : stale) cache_.drop(identifier);
  return invalidations;
}

std::vector<Invalidation> DomainFileSystem::containerSignalled(const ItemIdentifier& container) {
  std::vector<Invalidation> invalidations;
  std::lock_guard lock(mutex_);
  if (Node* node = tree_.find(container); node && node->directory) tree_.dropListing(*node, false, invalidations);
  return invalidations;
}

std::vector<Invalidation> DomainFileSystem::forgetBelow(const ItemIdentifier& item) {
  std::vector<Invalidation> invalidations;
  std::vector<ItemIdentifier> dropped;
  {
    std::lock_guard lock(mutex_);
    Node* node = tree_.find(item);
    if (!node) return invalidations;
    if (node->directory) {
      tree_.dropListing(*node, true, invalidations, &dropped);
    } else {
      dropped.push_back(item);
      invalidations.push_back({0, {}, node->inode});
    }
  }
  for (const auto& identifier : dropped) cache_.drop(identifier);
  return invalidations;
}

void DomainFileSystem::shutdown() {
  calls_.shutdown();
}

}  // namespace ostrel::fileprovider
