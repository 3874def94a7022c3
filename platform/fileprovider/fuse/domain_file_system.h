#pragma once

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <expected>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fileprovider/domain.h"
#include "platform/fileprovider/domain_storage.h"
#include "platform/fileprovider/fuse/content_cache.h"
#include "platform/fileprovider/fuse/extension_calls.h"
#include "platform/fileprovider/fuse/item_tree.h"
#include "platform/fileprovider/fuse/local_store.h"
#include "platform/fileprovider/fuse/mount_options.h"
#include "platform/fileprovider/fuse/request_dispatcher.h"
#include "platform/fileprovider/fuse/retry_loop.h"
#include "platform/fileprovider/fuse/serial_worker.h"
#include "platform/fileprovider/fuse/superseded_versions.h"
#include "platform/fileprovider/replicated_extension.h"
#include "platform/foundation/log.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::fileprovider {

// An errno on failure.
template <class T>
using FsResult = std::expected<T, int>;

// The domain as a file system, in terms of inodes and errno: what the FUSE
// operations call. Request threads call it concurrently; no lock is held
// while the extension is waited for. What the user wrote is sent from a
// thread of its own, after the request that finished it was answered.
class DomainFileSystem {
 public:
  using InvalidationSink = std::function<void(std::vector<Invalidation>)>;

  struct Entry {
    Inode inode = 0;
    struct stat attributes {};
  };
  struct DirectoryEntry {
    std::string name;
    Inode inode = 0;
    bool directory = false;
  };

  static std::expected<std::unique_ptr<DomainFileSystem>, Error> create(std::shared_ptr<ReplicatedExtension> extension,
                                                                      Domain domain, DomainStorage storage,
                                                                      MountOptions options);

  // Whether the directory's listing is here: lookups in it need not wait.
  bool isListed(Inode inode);
  FsResult<Entry> lookup(Inode parent, const std::string& name);
  void forget(Inode inode, uint64_t count);
  // The entry of an item an open listing holds, counted as a lookup (readdirplus).
  FsResult<Entry> lookupListed(Inode inode);
  FsResult<struct stat> attributes(Inode inode);
  // `handle` when the kernel truncates through an open file.
  FsResult<struct stat> truncate(Inode inode, off_t size, std::optional<uint64_t> handle);
  FsResult<std::vector<DirectoryEntry>> list(Inode inode);
  // A listing held for an open directory, so that one read in parts stays
  // consistent; what is still held when the mount ends goes with it.
  // `reader` is the thread that opened it: a recursive delete walks what it holds open.
  FsResult<uint64_t> openListing(Inode inode, pid_t reader);
  std::shared_ptr<const std::vector<DirectoryEntry>> listing(uint64_t handle);
  // Reads the open directory afresh: a reader that starts over (rewinddir)
  // sees what changed since it opened it.
  void refreshListing(uint64_t handle, Inode inode);
  // Whether the open directory was read from its start before.
  bool startsOver(uint64_t handle);
  void closeListing(uint64_t handle);

  FsResult<uint64_t> open(Inode inode, int flags);
  FsResult<std::pair<Entry, uint64_t>> create(Inode parent, const std::string& name, int flags);
  // Whether reads of the handle must bypass the kernel's page cache: the
  // size the kernel was told before the download was not the size of the bytes.
  bool readsDirectly(uint64_t handle);
  struct ReadRange {
    int descriptor = -1;
    size_t length = 0;
  };
  // Where to read `size` bytes at `offset` from: a descriptor, valid until
  // the handle is released, and how many bytes it has there. A file still
  // arriving waits for the range (or its end); see readsMayWait.
  FsResult<ReadRange> readRange(uint64_t handle, off_t offset, size_t size);
  // Whether a read of the handle may wait for bytes still arriving.
  bool readsMayWait(uint64_t handle);
  FsResult<size_t> write(uint64_t handle, const char* data, size_t size, off_t offset);
  // The last writer's release sends what was written.
  void release(uint64_t handle);

  FsResult<Entry> makeDirectory(Inode parent, const std::string& name);
  // `caller` is the thread that asked (see goesWithContents).
  FsResult<void> remove(Inode parent, const std::string& name, bool directory, pid_t caller);
  FsResult<void> rename(Inode parent, const std::string& name, Inode newParent, const std::string& newName,
                        bool noReplace);
  FsResult<std::string> extendedAttribute(Inode inode, const std::string& name);
  FsResult<std::vector<std::string>> extendedAttributeNames(Inode inode);

  // What the working set reported; the answers name what the kernel must forget.
  std::vector<Invalidation> applyChanges(std::vector<ItemPtr> updated, std::vector<ItemIdentifier> deleted);
  std::vector<Invalidation> containerSignalled(const ItemIdentifier& container);
  std::vector<Invalidation> forgetBelow(const ItemIdentifier& item);

  // Sends again, in the order they were made, the edits and new files that
  // wait for the service; one a send is under way for, or a writer holds,
  // is left alone. Answers how many went. Runs at the start, on a timer and
  // whenever the service answered again.
  size_t sendWaiting();
  // A round of the working set went through: reads try the service at once
  // again, and what waits for it is sent.
  void serviceAnswered();
  struct UnsentEdit {
    std::string name;
    // "pending", "awaitingContents", "waiting" or "kept".
    std::string state;
  };
  // What the service does not have yet, oldest first.
  std::vector<UnsentEdit> unsentEdits();

  // Where the kernel is told what it may have cached wrongly. The sink must
  // not wait for the kernel: it is called from request threads.
  void setInvalidationSink(InvalidationSink sink);

  // Ends every wait for the extension and every send; later calls fail at once.
  void shutdown();
  const MountOptions& options() const { return options_; }

 private:
  struct OpenFile {
    UniqueFd fd;
    Inode inode = 0;
    // Set for handles on the local store's bytes.
    std::optional<std::string> token;
    bool writable = false;
    bool dirty = false;
    bool direct = false;
    // Set while the bytes are still arriving when the file was opened.
    std::shared_ptr<GrowingFile> arriving;
    // The item whose kept bytes it reads.
    std::optional<ItemIdentifier> pinned;
  };

  DomainFileSystem(std::shared_ptr<ReplicatedExtension> extension, Domain domain, DomainStorage storage,
                   MountOptions options, ItemPtr root);

  FsResult<void> ensureListed(Inode inode);
  void mergeLocal(Node& container, std::vector<Invalidation>& invalidations);
  struct stat attributesOf(const Node& node);
  Entry entryOf(Node& node);
  // The item's bytes; with `early`, as soon as the first of them arrived.
  FsResult<ContentCache::Arriving> contentsOf(Inode inode, bool early);
  FsResult<std::string> stageEdit(Inode inode, bool truncate);
  // Whether the service's answer to a write in `folder` can stand for the
  // item written: not a root, not the folder or one that holds it, not its
  // own parent, a folder only for a folder. Caller holds mutex_.
  bool answerFits(const Item& answer, const ItemIdentifier& folder, bool directory);
  uint64_t addHandle(OpenFile file);
  std::shared_ptr<OpenFile> handle(uint64_t id);

  // Sending what the user wrote (domain_file_system_sending.cpp).
  // Queues a send of the entry. Caller holds mutex_.
  void queueSend(const std::string& token);
  // Sends the local entry's bytes until the service has the latest or refuses them.
  void sendLocal(const std::string& token);
  // What the service answered to a send; false when the entry stays to be sent again.
  bool settleSend(const std::string& token, uint64_t generation, bool created, const ItemVersion& base,
                  const ItemPtr& item, const std::filesystem::path& snapshot);
  void keepLocal(LocalStore::Entry& entry, const Error& error, const char* what);

  // Renames and deletions (domain_file_system_changes.cpp).
  FsResult<void> removeNode(Inode parent, const std::string& name, bool directory, pid_t caller);
  // The nearest container at or above `node` that the service lets the
  // partner delete. Caller holds mutex_.
  Node* deletableContainer(Node& node);
  // Whether `reader` holds the directory open. Caller holds mutex_.
  bool walks(pid_t reader, Inode directory) const;
  // A recursive delete (rm -r) removes each item before its container. What
  // cannot go on its own but goes with a deletable container the walker also
  // holds open (a version of a document) is held: it leaves the listing, and
  // the container's removal deletes it at the service. Caller holds mutex_.
  bool holdForContainer(Node& node, Node& parent, pid_t caller);
  // Whether removing the container takes its contents with it: each item in it
  // is the service's, none can be deleted on its own and nothing below holds
  // unsent bytes (a document with its versions). Caller holds mutex_.
  bool goesWithContents(const Node& container);
  bool holdsLocalBytes(const Node& node);
  // Waits (bounded) until no send of the local item at `name` is under way:
  // a rename must act on what the service made of it.
  void awaitSettledSend(Inode parent, const std::string& name);
  FsResult<void> renameLocal(Node& node, Node& to, const std::string& newName);
  // A file written elsewhere and renamed over a service file: a save of that file.
  FsResult<void> saveOver(Node& node, Node& target, Node& to, const std::string& newName);
  // Takes a removed node out of the tree with its local bytes. Caller holds mutex_.
  void discardNode(Node& node);
  // The container's listing is read afresh on next use; what the kernel
  // kept of it is dropped. Caller holds mutex_.
  void relistContainer(const std::optional<ItemIdentifier>& container);
  // Caller holds mutex_.
  void notifyKernel(std::vector<Invalidation> invalidations);

  std::shared_ptr<ReplicatedExtension> extension_;
  Domain domain_;
  DomainStorage storage_;
  MountOptions options_;
  ExtensionCalls calls_;
  ContentCache cache_;
  Logger log_;
  uid_t uid_;
  gid_t gid_;
  struct timespec mounted_ {};

  std::mutex mutex_;
  ItemTree tree_;
  SupersededVersions superseded_;
  LocalStore local_;
  std::map<ItemIdentifier, std::shared_future<FsResult<void>>> listing_;
  std::map<uint64_t, std::shared_ptr<OpenFile>> open_;
  std::map<uint64_t, std::shared_ptr<const std::vector<DirectoryEntry>>> listings_;
  std::set<uint64_t> listingsRead_;
  std::map<uint64_t, std::pair<Inode, pid_t>> listingReaders_;
  // Directories whose items a walker removed while they wait for their container's removal.
  std::map<pid_t, std::set<Inode>> held_;
  uint64_t nextHandle_ = 0;
  InvalidationSink invalidationSink_;
  // Notified whenever a send ends.
  std::condition_variable sendSettled_;
  // Last, so that they stop before what their jobs use goes.
  RequestDispatcher fetches_;
  SerialWorker sender_;
  std::unique_ptr<RetryLoop> retry_;
};

}  // namespace ostrel::fileprovider
