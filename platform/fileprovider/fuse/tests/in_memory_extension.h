#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/fileprovider/observers.h"
#include "platform/fileprovider/page.h"
#include "platform/fileprovider/replicated_extension.h"

namespace ostrel::fileprovider::testing {

// A whole drive in memory: folders and documents with bytes and versions,
// listed in pages, answering from a thread of its own as an extension does.
// It keeps what the system asked of it, and can be told to fail.
class InMemoryExtension final : public ReplicatedExtension {
 public:
  struct Created {
    std::string filename;
    ItemIdentifier parent;
    std::optional<std::string> contentType;
    std::optional<std::string> bytes;
    ItemIdentifier identifier;
  };
  struct Modified {
    ItemIdentifier identifier;
    std::string filename;
    ItemIdentifier parent;
    ItemVersion baseVersion;
    uint32_t fields = 0;
    std::optional<std::string> bytes;
  };
  struct Deleted {
    ItemIdentifier identifier;
    ItemVersion baseVersion;
  };
  enum class Operation { list, fetch, create, modify, remove };

  // Downloads are written into `downloads`, as into the manager's temporary directory.
  explicit InMemoryExtension(std::filesystem::path downloads);
  ~InMemoryExtension() override;

  ItemIdentifier addFolder(const ItemIdentifier& parent, const std::string& name);
  ItemIdentifier addFile(const ItemIdentifier& parent, const std::string& name, const std::string& bytes,
                         ExtendedAttributes attributes = {}, uint32_t capabilities = allCapabilities);
  // Changes made at the service behind the system's back; the item as it is now.
  ItemPtr replaceBytes(const ItemIdentifier& identifier, const std::string& bytes);
  ItemPtr moveBehind(const ItemIdentifier& identifier, const ItemIdentifier& parent, const std::string& name);
  void removeBehind(const ItemIdentifier& identifier);
  // The item claims that size, as a buggy service may.
  void reportSize(const ItemIdentifier& identifier, int64_t size);
  // `container` lists the item too, as a list of shortcuts does.
  void listAlsoIn(const ItemIdentifier& container, const ItemIdentifier& identifier);
  ItemPtr item(const ItemIdentifier& identifier) const;
  std::optional<ItemIdentifier> find(const ItemIdentifier& parent, const std::string& name) const;
  std::optional<std::string> bytes(const ItemIdentifier& identifier) const;

  void setPageSize(size_t size);
  // The container's listing never ends: every page leads to another, named
  // anew each time (cycle 0) or coming back after `cycle` pages; each page
  // holds the container's first page of items, or nothing.
  void pageEndlessly(const ItemIdentifier& container, size_t cycle, bool withItems);
  // Every later call of that kind fails with `error` (nothing: succeeds again).
  void failAll(Operation operation, std::optional<Error> error);
  // New items in that container are refused with `error`.
  void refuseCreatesIn(const ItemIdentifier& parent, Error error);
  // A new file becomes a folder of that name holding the file, and the
  // answer is the file inside (as a service that keeps versions answers).
  void fileNewFilesInFolders(bool on);
  // Creations happen, but their answers wait for releaseCreateAnswers().
  void holdCreateAnswers();
  void releaseCreateAnswers();

  size_t pagesListed(const ItemIdentifier& container) const;
  size_t fetches(const ItemIdentifier& identifier) const;
  std::vector<Created> created() const;
  std::vector<Modified> modified() const;
  std::vector<Deleted> deleted() const;
  // Waits (at most `timeout`) until `ready` holds of the extension.
  bool waitUntil(const std::function<bool(const InMemoryExtension&)>& ready,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  static constexpr uint32_t allCapabilities = allowsReading | allowsWriting | allowsReparenting | allowsRenaming |
                                              allowsTrashing | allowsDeleting;

  void invalidate() override {}
  ProgressPtr itemForIdentifier(const ItemIdentifier& identifier, ItemCompletion completion) override;
  ProgressPtr fetchContents(const ItemIdentifier& identifier, std::optional<ItemVersion> requestedVersion,
                            FetchCompletion completion) override;
  ProgressPtr createItem(ItemPtr itemTemplate, uint32_t fields, std::optional<std::filesystem::path> contents,
                         WriteCompletion completion) override;
  ProgressPtr modifyItem(ItemPtr item, ItemVersion baseVersion, uint32_t changedFields,
                         std::optional<std::filesystem::path> contents, WriteCompletion completion) override;
  ProgressPtr deleteItem(const ItemIdentifier& identifier, ItemVersion baseVersion,
                         ErrorCompletion completion) override;
  std::expected<std::shared_ptr<Enumerator>, Error> enumeratorForContainer(const ItemIdentifier& container) override;
  ProgressPtr supportedServiceSources(const ItemIdentifier& identifier, ServiceSourcesCompletion completion) override;
  ProgressPtr performAction(const std::string& actionIdentifier, const std::vector<ItemIdentifier>& items,
                            ErrorCompletion completion) override;

  struct Record {
    ItemIdentifier identifier;
    ItemIdentifier parent;
    std::string name;
    bool folder = false;
    std::string bytes;
    int contentVersion = 1;
    int metadataVersion = 1;
    uint32_t capabilities = allCapabilities;
    ExtendedAttributes attributes;
    // What the item says its size is, whatever its bytes.
    std::optional<int64_t> reportedSize;
    // Containers besides the parent that list the item.
    std::set<ItemIdentifier> alsoListedIn;
  };

 private:
  class Lister;
  ItemPtr snapshot(const Record& record) const;
  ItemIdentifier insert(Record record);
  void later(std::function<void()> job);
  std::vector<ItemPtr> page(const ItemIdentifier& container, size_t offset, bool& more);
  // The next page of a listing that never ends; nothing for other containers.
  std::optional<Page> endlessPage(const ItemIdentifier& container, const Page& page, EnumerationObserver& observer);
  std::optional<Error> failure(Operation operation) const;

  std::filesystem::path downloads_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<ItemIdentifier, Record> records_;
  size_t pageSize_ = 200;
  int nextIdentifier_ = 0;
  std::map<Operation, Error> failures_;
  std::map<ItemIdentifier, Error> refusals_;
  bool filesInFolders_ = false;
  bool holdingAnswers_ = false;
  std::vector<std::function<void()>> heldAnswers_;
  struct Endless {
    size_t cycle = 0;
    bool withItems = false;
  };
  std::map<ItemIdentifier, Endless> endless_;
  std::map<ItemIdentifier, size_t> pagesListed_;
  std::map<ItemIdentifier, size_t> fetches_;
  std::vector<Created> created_;
  std::vector<Modified> modified_;
  std::vector<Deleted> deleted_;

  std::mutex jobsMutex_;
  std::condition_variable jobsReady_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace ostrel::fileprovider::testing
