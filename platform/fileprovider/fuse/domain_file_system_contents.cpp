// Opening, reading and writing files: fetched contents for reads, copies in
// the local store for what the user writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fileprovider/fuse/domain_file_system.h"
#include "platform/fileprovider/fuse/errno_mapping.h"
#include "platform/fileprovider/fuse/file_system_support.h"

namespace ostrel::fileprovider {

FsResult<ContentCache::Arriving> DomainFileSystem::contentsOf(Inode inode, bool early) {
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
  auto fetch = [this, identifier, requested](std::stop_token stop, std::shared_ptr<GrowingFile> arriving) {
    return calls_.fetchContents(identifier, requested, stop, std::move(arriving));
  };
  std::expected<ContentCache::Arriving, Error> contents = std::unexpected(FileProviderError::make(FileProviderError::cannotSynchronize));
  if (early) {
    contents = cache_.obtainArriving(identifier, version, fetch, RequestScope::current());
  } else if (auto whole = cache_.obtain(identifier, version, fetch, RequestScope::current())) {
    contents = ContentCache::Arriving(std::move(*whole));
  } else {
    contents = std::unexpected(whole.error());
  }
  if (!contents) {
    log_.error("fetching %{public}s failed: %{public}s", {identifier.rawValue, describe(contents.error())});
    return std::unexpected(errnoForError(contents.error()));
  }
  if (auto* entry = std::get_if<ContentCache::Entry>(&*contents); entry && entry->item) {
    std::lock_guard lock(mutex_);
    if (Node* node = tree_.find(identifier); node && !node->vanished) node->item = entry->item;
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
    auto contents = contentsOf(inode, false);
    if (!contents) return std::unexpected(contents.error());
    original = std::get<ContentCache::Entry>(*contents).file;
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
  // The size the kernel was last told; the fetch may bring the service's own correction.
  off_t announced = 0;
  {
    std::lock_guard lock(mutex_);
    if (Node* node = tree_.find(inode)) announced = attributesOf(*node).st_size;
  }
  // A newer version may replace the cached file between fetch and open: fetch again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto contents = contentsOf(inode, true);
    if (!contents) return std::unexpected(contents.error());
    if (auto* arriving = std::get_if<std::shared_ptr<GrowingFile>>(&*contents)) {
      // Read as it arrives, past any size the kernel was told, and without
      // the page cache: it would ask for more than the reader wants.
      OpenFile file{UniqueFd(), inode, std::nullopt, false, false, true};
      file.arriving = *arriving;
      return addHandle(std::move(file));
    }
    UniqueFd fd(::open(std::get<ContentCache::Entry>(*contents).file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) continue;
    struct stat bytes {};
    if (::fstat(fd.get(), &bytes) != 0) return std::unexpected(errno);
    const bool direct = announced != bytes.st_size;
    if (direct) {
      // The kernel may hold the size it was told and cut reads there: this
      // handle reads past it, and the attributes are asked for again.
      std::lock_guard lock(mutex_);
      notifyKernel({{0, {}, inode}});
    }
    OpenFile file{std::move(fd), inode, std::nullopt, false, false, direct};
    {
      // Kept while it is read: what is kept for others makes room elsewhere.
      std::lock_guard lock(mutex_);
      if (Node* node = tree_.find(inode)) {
        file.pinned = node->identifier;
        cache_.pin(node->identifier);
      }
    }
    return addHandle(std::move(file));
  }
  return std::unexpected(EIO);
}

bool DomainFileSystem::readsDirectly(uint64_t id) {
  auto file = handle(id);
  return file && file->direct;
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

FsResult<DomainFileSystem::ReadRange> DomainFileSystem::readRange(uint64_t id, off_t offset, size_t size) {
  auto file = handle(id);
  if (!file || offset < 0) return std::unexpected(file ? EINVAL : EBADF);
  if (!file->arriving) return ReadRange{file->fd.get(), size};
  auto range = file->arriving->read(static_cast<uint64_t>(offset), size, RequestScope::current());
  if (!range) return std::unexpected(range.error());
  return ReadRange{range->descriptor, range->length};
}

bool DomainFileSystem::readsMayWait(uint64_t id) {
  auto file = handle(id);
  return file && file->arriving && !file->arriving->complete();
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
  std::lock_guard lock(mutex_);
  auto found = open_.find(id);
  if (found == open_.end()) return;
  auto file = found->second;
  open_.erase(found);
  if (file->pinned) cache_.unpin(*file->pinned);
  if (!file->writable) return;
  Node* node = tree_.find(file->inode);
  if (node && node->writers > 0) --node->writers;
  auto* entry = file->token ? local_.find(*file->token) : nullptr;
  if (entry && file->dirty) ++entry->generation;
  // Another file renamed over this one replaced the bytes it was writing.
  if (!entry && node && node->localToken) entry = local_.find(*node->localToken);
  if (entry && node && node->writers == 0) {
    if (entry->kind == LocalStore::Entry::Kind::edited && entry->generation == 0 && !entry->sending) {
      // Opened for writing and closed unwritten: the service's bytes stay what the file shows.
      node->localToken.reset();
      local_.remove(entry->token);
    } else if (entry->generation != entry->sentGeneration) {
      queueSend(entry->token);
    }
  }
  if (node) tree_.collect(*node);
}

}  // namespace ostrel::fileprovider
