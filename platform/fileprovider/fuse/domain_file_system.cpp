#include "platform/fileprovider/fuse/domain_file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/fileprovider/fuse/file_system_support.h"

namespace ostrel::fileprovider {

namespace {

constexpr const char* xattrPrefix = "user.";

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
  // Downloads and snapshots of sends an earlier run left are nobody's now.
  std::error_code swept;
  std::filesystem::remove_all(storage.temporaryDirectory(), swept);
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
      Logger(mountLogSubsystem, "mount").error("root of %{public}s unavailable: %{public}s",
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
      cache_(storage_.contentsDirectory(), [this](std::function<void()> fetch) { fetches_.post(std::move(fetch)); },
             options.contentsLimitBytes),
      log_(mountLogSubsystem, "mount"),
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
  sendWaiting();
  retry_ = std::make_unique<RetryLoop>(options_.firstRetry, options_.longestRetry, [this] { return sendWaiting() > 0; });
}

void DomainFileSystem::setInvalidationSink(InvalidationSink sink) {
  std::lock_guard lock(mutex_);
  invalidationSink_ = std::move(sink);
}

void DomainFileSystem::notifyKernel(std::vector<Invalidation> invalidations) {
  if (invalidationSink_ && !invalidations.empty()) invalidationSink_(std::move(invalidations));
}

void DomainFileSystem::shutdown() {
  if (retry_) retry_->stop();
  calls_.shutdown();
  fetches_.stop();
  sender_.stop();
}

// Attributes ---------------------------------------------------------------

struct stat DomainFileSystem::attributesOf(const Node& node) {
  struct stat attributes {};
  attributes.st_ino = node.inode;
  attributes.st_uid = uid_;
  attributes.st_gid = gid_;
  // Reads of 256 KiB: fewer round trips for programs that size their reads by it.
  attributes.st_blksize = 256 * 1024;
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
    return attributes;
  }
  attributes.st_mode = S_IFREG | (writable ? 0644 : 0444);
  attributes.st_nlink = 1;
  // Bytes that are here say how many there are; until then the service's
  // size stands, or 0 when it cannot mean one.
  if (node.item) {
    auto here = cache_.sizeOf(node.identifier, contentVersionOf(*node.item));
    attributes.st_size = here ? static_cast<off_t>(*here) : believableSize(*node.item).value_or(0);
  }
  if (node.localToken) {
    // The user's bytes are what the file holds until the service has them. An
    // edit keeps the service's time, so that a program that saved it does not
    // see its own save as a change by someone else.
    if (auto* entry = local_.find(*node.localToken)) {
      struct stat local {};
      if (::stat(local_.bytes(*entry).c_str(), &local) == 0) {
        attributes.st_size = local.st_size;
        if (!node.item) attributes.st_mtim = attributes.st_ctim = local.st_mtim;
      }
    }
  }
  constexpr off_t largest = std::numeric_limits<off_t>::max() - 511;
  attributes.st_blocks = (std::min(attributes.st_size, largest) + 511) / 512;
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

bool DomainFileSystem::answerFits(const Item& answer, const ItemIdentifier& folder, bool directory) {
  const ItemIdentifier identifier = answer.itemIdentifier();
  if (isFolderItem(answer) != directory || identifier.rawValue.empty() || identifier == rootContainerItemIdentifier ||
      identifier == workingSetItemIdentifier || identifier == folder || identifier == answer.parentItemIdentifier() ||
      LocalStore::isLocalIdentifier(identifier))
    return false;
  Node* existing = tree_.find(identifier);
  Node* container = tree_.find(folder);
  return !(existing && container && tree_.encloses(*existing, *container));
}

}  // namespace ostrel::fileprovider
