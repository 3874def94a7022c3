#include "platform/fileprovider/fuse/tests/in_memory_extension.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/fileprovider/fuse/item_snapshot.h"
#include "platform/foundation/uniform_type.h"

namespace ostrel::fileprovider::testing {

namespace {

std::optional<std::string> readAll(const std::optional<std::filesystem::path>& path) {
  if (!path) return std::nullopt;
  std::ifstream in(*path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool isFolderType(const std::optional<std::string>& type) {
  return type && UTType::conforms(*type, UTType::folder);
}

}  // namespace

class InMemoryExtension::Lister final : public Enumerator {
 public:
  Lister(InMemoryExtension& owner, ItemIdentifier container) : owner_(owner), container_(std::move(container)) {}
  void invalidate() override {}
  void enumerateItems(std::shared_ptr<EnumerationObserver> observer, Page page) override {
    owner_.later([container = container_, observer, page, keep = &owner_] {
      if (auto error = keep->failure(Operation::list)) return observer->finishEnumeratingWithError(*error);
      if (auto next = keep->endlessPage(container, page, *observer)) return observer->finishEnumeratingUpToPage(next);
      const size_t offset = page == initialPageSortedByName ? 0 : std::stoul(page.bytes);
      bool more = false;
      auto items = keep->page(container, offset, more);
      const size_t count = items.size();
      observer->didEnumerateItems(std::move(items));
      observer->finishEnumeratingUpToPage(more ? std::optional(Page{std::to_string(offset + count)}) : std::nullopt);
    });
  }
  void enumerateChanges(std::shared_ptr<ChangeObserver> observer, SyncAnchor anchor) override {
    observer->finishEnumeratingChangesUpToSyncAnchor(anchor, false);
  }
  void currentSyncAnchor(std::function<void(std::optional<SyncAnchor>)> completion) override {
    completion(SyncAnchor{"0"});
  }

 private:
  InMemoryExtension& owner_;
  ItemIdentifier container_;
};

InMemoryExtension::InMemoryExtension(std::filesystem::path downloads) : downloads_(std::move(downloads)) {
  Record root;
  root.identifier = rootContainerItemIdentifier;
  root.parent = rootContainerItemIdentifier;
  root.name = "Drive";
  root.folder = true;
  records_.emplace(root.identifier, root);
  worker_ = std::thread([this] {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(jobsMutex_);
        jobsReady_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  });
}

InMemoryExtension::~InMemoryExtension() {
  {
    std::lock_guard lock(jobsMutex_);
    stopping_ = true;
  }
  jobsReady_.notify_all();
  worker_.join();
}

void InMemoryExtension::later(std::function<void()> job) {
  {
    std::lock_guard lock(jobsMutex_);
    jobs_.push_back(std::move(job));
  }
  jobsReady_.notify_all();
}

ItemPtr InMemoryExtension::snapshot(const Record& record) const {
  ItemSnapshot item;
  item.identifier = record.identifier;
  item.parent = record.parent;
  item.name = record.name;
  item.type = record.folder ? std::string(UTType::folder)
                            : UTType::forFilenameExtension(pathExtension(record.name)).value_or(UTType::data);
  item.itemCapabilities = record.capabilities;
  item.version = ItemVersion{"c" + std::to_string(record.contentVersion), "m" + std::to_string(record.metadataVersion)};
  if (!record.folder) item.size = record.reportedSize.value_or(static_cast<int64_t>(record.bytes.size()));
  item.modified = Date(std::chrono::milliseconds(1'700'000'000'000LL + record.contentVersion * 60'000LL));
  item.attributes = record.attributes;
  return std::make_shared<ItemSnapshot>(std::move(item));
}

ItemIdentifier InMemoryExtension::insert(Record record) {
  std::lock_guard lock(mutex_);
  record.identifier = ItemIdentifier{"item-" + std::to_string(++nextIdentifier_)};
  const auto identifier = record.identifier;
  records_.emplace(identifier, std::move(record));
  changed_.notify_all();
  return identifier;
}

ItemIdentifier InMemoryExtension::addFolder(const ItemIdentifier& parent, const std::string& name) {
  return insert(Record{.parent = parent, .name = name, .folder = true});
}

ItemIdentifier InMemoryExtension::addFile(const ItemIdentifier& parent, const std::string& name,
                                          const std::string& bytes, ExtendedAttributes attributes,
                                          uint32_t capabilities) {
  return insert(Record{.parent = parent, .name = name, .bytes = bytes, .capabilities = capabilities,
                       .attributes = std::move(attributes)});
}

ItemPtr InMemoryExtension::replaceBytes(const ItemIdentifier& identifier, const std::string& bytes) {
  std::lock_guard lock(mutex_);
  auto& record = records_.at(identifier);
  record.bytes = bytes;
  ++record.contentVersion;
  return snapshot(record);
}

ItemPtr InMemoryExtension::moveBehind(const ItemIdentifier& identifier, const ItemIdentifier& parent,
                                      const std::string& name) {
  std::lock_guard lock(mutex_);
  auto& record = records_.at(identifier);
  record.parent = parent;
  record.name = name;
  ++record.metadataVersion;
  return snapshot(record);
}

void InMemoryExtension::removeBehind(const ItemIdentifier& identifier) {
  std::lock_guard lock(mutex_);
  records_.erase(identifier);
}

ItemPtr InMemoryExtension::item(const ItemIdentifier& identifier) const {
  std::lock_guard lock(mutex_);
  auto found = records_.find(identifier);
  return found == records_.end() ? nullptr : snapshot(found->second);
}

std::optional<ItemIdentifier> InMemoryExtension::find(const ItemIdentifier& parent, const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (const auto& [identifier, record] : records_)
    if (record.parent == parent && record.name == name && identifier != rootContainerItemIdentifier) return identifier;
  return std::nullopt;
}

std::optional<std::string> InMemoryExtension::bytes(const ItemIdentifier& identifier) const {
  std::lock_guard lock(mutex_);
  auto found = records_.find(identifier);
  if (found == records_.end()) return std::nullopt;
  return found->second.bytes;
}

void InMemoryExtension::setPageSize(size_t size) {
  std::lock_guard lock(mutex_);
  pageSize_ = size;
}

void InMemoryExtension::failAll(Operation operation, std::optional<Error> error) {
  std::lock_guard lock(mutex_);
  if (error) {
    failures_.insert_or_assign(operation, *error);
  } else {
    failures_.erase(operation);
  }
}

void InMemoryExtension::refuseCreatesIn(const ItemIdentifier& parent, Error error) {
  std::lock_guard lock(mutex_);
  refusals_.insert_or_assign(parent, std::move(error));
}

std::optional<Error> InMemoryExtension::failure(Operation operation) const {
  std::lock_guard lock(mutex_);
  auto found = failures_.find(operation);
  if (found == failures_.end()) return std::nullopt;
  return found->second;
}

size_t InMemoryExtension::pagesListed(const ItemIdentifier& container) const {
  std::lock_guard lock(mutex_);
  auto found = pagesListed_.find(container);
  return found == pagesListed_.end() ? 0 : found->second;
}

size_t InMemoryExtension::fetches(const ItemIdentifier& identifier) const {
  std::lock_guard lock(mutex_);
  auto found = fetches_.find(identifier);
  return found == fetches_.end() ? 0 : found->second;
}

std::vector<InMemoryExtension::Created> InMemoryExtension::created() const {
  std::lock_guard lock(mutex_);
  return created_;
}

std::vector<InMemoryExtension::Modified> InMemoryExtension::modified() const {
  std::lock_guard lock(mutex_);
  return modified_;
}

std::vector<InMemoryExtension::Deleted> InMemoryExtension::deleted() const {
  std::lock_guard lock(mutex_);
  return deleted_;
}

bool InMemoryExtension::waitUntil(const std::function<bool(const InMemoryExtension&)>& ready,
                                  std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!ready(*this)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void InMemoryExtension::reportSize(const ItemIdentifier& identifier, int64_t size) {
  std::lock_guard lock(mutex_);
  if (auto found = records_.find(identifier); found != records_.end()) found->second.reportedSize = size;
}

void InMemoryExtension::fileNewFilesInFolders(bool on) {
  std::lock_guard lock(mutex_);
  filesInFolders_ = on;
}

void InMemoryExtension::holdCreateAnswers() {
  std::lock_guard lock(mutex_);
  holdingAnswers_ = true;
}

void InMemoryExtension::releaseCreateAnswers() {
  std::vector<std::function<void()>> answers;
  {
    std::lock_guard lock(mutex_);
    holdingAnswers_ = false;
    answers.swap(heldAnswers_);
  }
  for (auto& answer : answers) later(std::move(answer));
}

void InMemoryExtension::listAlsoIn(const ItemIdentifier& container, const ItemIdentifier& identifier) {
  std::lock_guard lock(mutex_);
  if (auto found = records_.find(identifier); found != records_.end()) found->second.alsoListedIn.insert(container);
}

void InMemoryExtension::pageEndlessly(const ItemIdentifier& container, size_t cycle, bool withItems) {
  std::lock_guard lock(mutex_);
  endless_[container] = Endless{cycle, withItems};
}

std::optional<Page> InMemoryExtension::endlessPage(const ItemIdentifier& container, const Page& page,
                                                   EnumerationObserver& observer) {
  Endless endless;
  {
    std::lock_guard lock(mutex_);
    auto found = endless_.find(container);
    if (found == endless_.end()) return std::nullopt;
    endless = found->second;
  }
  const size_t number = page == initialPageSortedByName ? 0 : std::stoul(page.bytes.substr(1));
  bool more = false;
  auto items = this->page(container, 0, more);
  if (endless.withItems) observer.didEnumerateItems(std::move(items));
  const size_t next = endless.cycle ? (number % endless.cycle) + 1 : number + 1;
  return Page{"e" + std::to_string(next)};
}

std::vector<ItemPtr> InMemoryExtension::page(const ItemIdentifier& container, size_t offset, bool& more) {
  std::lock_guard lock(mutex_);
  ++pagesListed_[container];
  std::vector<const Record*> children;
  for (const auto& [identifier, record] : records_)
    if ((record.parent == container || record.alsoListedIn.contains(container)) &&
        identifier != rootContainerItemIdentifier)
      children.push_back(&record);
  std::sort(children.begin(), children.end(), [](auto* a, auto* b) { return a->name < b->name; });
  std::vector<ItemPtr> items;
  for (size_t i = offset; i < children.size() && items.size() < pageSize_; ++i) items.push_back(snapshot(*children[i]));
  more = offset + items.size() < children.size();
  return items;
}

ProgressPtr InMemoryExtension::itemForIdentifier(const ItemIdentifier& identifier, ItemCompletion completion) {
  later([this, identifier, completion] {
    auto found = item(identifier);
    if (!found) return completion(nullptr, FileProviderError::nonExistentItem(identifier.rawValue));
    completion(found, std::nullopt);
  });
  return Progress::withTotalUnitCount(1);
}

ProgressPtr InMemoryExtension::fetchContents(const ItemIdentifier& identifier, std::optional<ItemVersion>,
                                             FetchCompletion completion) {
  later([this, identifier, completion] {
    if (auto error = failure(Operation::fetch)) return completion(std::nullopt, nullptr, *error);
    std::filesystem::path file;
    ItemPtr current;
    {
      std::lock_guard lock(mutex_);
      auto found = records_.find(identifier);
      if (found == records_.end() || found->second.folder)
        return completion(std::nullopt, nullptr, FileProviderError::nonExistentItem(identifier.rawValue));
      ++fetches_[identifier];
      file = downloads_ / ("download-" + std::to_string(++nextIdentifier_));
      std::filesystem::create_directories(downloads_);
      std::ofstream(file, std::ios::binary) << found->second.bytes;
      current = snapshot(found->second);
    }
    completion(file, current, std::nullopt);
  });
  return Progress::withTotalUnitCount(1);
}

ProgressPtr InMemoryExtension::createItem(ItemPtr itemTemplate, uint32_t,
                                          std::optional<std::filesystem::path> contents, WriteCompletion completion) {
  // The bytes are read now: the file is only lent for the call.
  const auto bytes = readAll(contents);
  later([this, itemTemplate, bytes, completion] {
    Created record{itemTemplate->filename(), itemTemplate->parentItemIdentifier(), itemTemplate->contentType(), bytes,
                   {}};
    const bool folder = isFolderType(record.contentType);
    std::optional<Error> refusal;
    {
      std::lock_guard lock(mutex_);
      if (auto found = refusals_.find(record.parent); found != refusals_.end()) refusal = found->second;
      if (auto found = failures_.find(Operation::create); found != failures_.end()) refusal = found->second;
    }
    if (!refusal && !folder && (!bytes || bytes->empty()))
      refusal = Error{DriveError::domain, DriveError::contentsNotYetAvailable, {}};
    if (refusal) {
      std::lock_guard lock(mutex_);
      created_.push_back(record);
      changed_.notify_all();
      return completion(nullptr, 0, false, *refusal);
    }
    bool inFolder = false;
    {
      std::lock_guard lock(mutex_);
      inFolder = filesInFolders_ && !folder;
    }
    ItemIdentifier parent = record.parent;
    if (inFolder) parent = insert(Record{.parent = record.parent, .name = record.filename, .folder = true});
    record.identifier =
        insert(Record{.parent = parent, .name = record.filename, .folder = folder, .bytes = bytes.value_or("")});
    ItemPtr made = item(record.identifier);
    std::lock_guard lock(mutex_);
    created_.push_back(record);
    changed_.notify_all();
    if (holdingAnswers_) {
      heldAnswers_.push_back([made, completion] { completion(made, 0, false, std::nullopt); });
      return;
    }
    completion(made, 0, false, std::nullopt);
  });
  return Progress::withTotalUnitCount(1);
}

ProgressPtr InMemoryExtension::modifyItem(ItemPtr item, ItemVersion baseVersion, uint32_t changedFields,
                                          std::optional<std::filesystem::path> contents, WriteCompletion completion) {
  const auto bytes = (changedFields & contentsField) ? readAll(contents) : std::nullopt;
  later([this, item, baseVersion, changedFields, bytes, completion] {
    Modified record{item->itemIdentifier(), item->filename(), item->parentItemIdentifier(), baseVersion,
                    changedFields, bytes};
    ItemPtr result;
    std::optional<Error> error = failure(Operation::modify);
    {
      std::lock_guard lock(mutex_);
      modified_.push_back(record);
      auto found = records_.find(record.identifier);
      if (!error && found == records_.end()) error = FileProviderError::nonExistentItem(record.identifier.rawValue);
      if (!error) {
        auto& stored = found->second;
        if (bytes) {
          stored.bytes = *bytes;
          ++stored.contentVersion;
        }
        if (changedFields & filenameField) stored.name = record.filename;
        if (changedFields & parentItemIdentifierField) stored.parent = record.parent;
        ++stored.metadataVersion;
        result = snapshot(stored);
      }
    }
    if (error) return completion(nullptr, 0, false, *error);
    completion(result, 0, false, std::nullopt);
  });
  return Progress::withTotalUnitCount(1);
}

ProgressPtr InMemoryExtension::deleteItem(const ItemIdentifier& identifier, ItemVersion baseVersion,
                                          ErrorCompletion completion) {
  later([this, identifier, baseVersion, completion] {
    std::optional<Error> error = failure(Operation::remove);
    {
      std::lock_guard lock(mutex_);
      deleted_.push_back({identifier, baseVersion});
      if (!error && !records_.contains(identifier)) error = FileProviderError::nonExistentItem(identifier.rawValue);
      if (!error) records_.erase(identifier);
    }
    completion(error);
  });
  return Progress::withTotalUnitCount(1);
}

std::expected<std::shared_ptr<Enumerator>, Error> InMemoryExtension::enumeratorForContainer(
    const ItemIdentifier& container) {
  return std::make_shared<Lister>(*this, container);
}

ProgressPtr InMemoryExtension::supportedServiceSources(const ItemIdentifier&, ServiceSourcesCompletion completion) {
  completion({}, std::nullopt);
  return Progress::withTotalUnitCount(1);
}

ProgressPtr InMemoryExtension::performAction(const std::string&, const std::vector<ItemIdentifier>&,
                                             ErrorCompletion completion) {
  completion(CocoaError::make(CocoaError::featureUnsupported));
  return Progress::withTotalUnitCount(1);
}

}  // namespace ostrel::fileprovider::testing
