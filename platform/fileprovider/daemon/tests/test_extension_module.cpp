// A small extension module for the daemon's tests, loaded the way the daemon
// loads the drive. It writes every call the daemon makes to
// $OSTREL_HOME/test-extension.log, one line each, so tests can follow them.
//
// Working set: the current anchor is "a0"; changes from "a0" come in two
// batches ("a0" → "a1" with more coming, "a1" → "a2"); from "a2" nothing new.
// While $OSTREL_HOME/expire-anchor exists, every change request answers that
// the anchor expired; while $OSTREL_HOME/no-anchor exists, there is no current
// anchor.

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/fileprovider/replicated_extension.h"
#include "platform/foundation/paths.h"
#include "platform/xpc/listener.h"

namespace {

using namespace ostrel;
using namespace ostrel::fileprovider;

void record(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (FILE* file = std::fopen((ostrelHome() / "test-extension.log").c_str(), "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

class NamedItem final : public Item {
 public:
  explicit NamedItem(std::string name) : name_(std::move(name)) {}
  ItemIdentifier itemIdentifier() const override { return {name_}; }
  ItemIdentifier parentItemIdentifier() const override { return rootContainerItemIdentifier; }
  std::string filename() const override { return name_; }

 private:
  std::string name_;
};

class WorkingSet final : public Enumerator {
 public:
  void invalidate() override { record("working-set invalidate"); }
  void enumerateItems(std::shared_ptr<EnumerationObserver> observer, Page) override {
    observer->finishEnumeratingUpToPage(std::nullopt);
  }
  void enumerateChanges(std::shared_ptr<ChangeObserver> observer, SyncAnchor anchor) override {
    record("changes from " + anchor.bytes);
    if (std::filesystem::exists(ostrelHome() / "expire-anchor")) {
      return observer->finishEnumeratingWithError(FileProviderError::make(FileProviderError::syncAnchorExpired));
    }
    if (anchor.bytes == "a0") {
      observer->didUpdateItems({std::make_shared<NamedItem>("first")});
      observer->finishEnumeratingChangesUpToSyncAnchor({"a1"}, true);
    } else if (anchor.bytes == "a1") {
      observer->didDeleteItemsWithIdentifiers({{"gone"}});
      observer->finishEnumeratingChangesUpToSyncAnchor({"a2"}, false);
    } else {
      observer->finishEnumeratingChangesUpToSyncAnchor(anchor, false);
    }
  }
  void currentSyncAnchor(std::function<void(std::optional<SyncAnchor>)> completion) override {
    record("current anchor");
    if (std::filesystem::exists(ostrelHome() / "no-anchor")) return completion(std::nullopt);
    completion(SyncAnchor{"a0"});
  }
};

class EchoSource final : public ServiceSource, public xpc::ListenerDelegate,
                         public std::enable_shared_from_this<EchoSource> {
 public:
  std::string serviceName() const override { return "test.echo"; }
  std::expected<xpc::ListenerEndpoint, Error> makeListenerEndpoint() override {
    std::lock_guard lock(mutex_);
    if (!listener_) {
      auto made = xpc::Listener::anonymous();
      if (!made) return std::unexpected(made.error());
      listener_ = *made;
      listener_->setDelegate(weak_from_this());
      listener_->resume();
    }
    return listener_->endpoint();
  }
  bool shouldAcceptNewConnection(std::shared_ptr<xpc::Connection> connection) override {
    record("service connection accepted");
    connection->resume();
    return true;
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<xpc::Listener> listener_;
};

class TestExtension final : public ReplicatedExtension {
 public:
  explicit TestExtension(const Domain& domain) : domain_(domain) { record("created " + domain.identifier); }
  ~TestExtension() override { record("destroyed " + domain_.identifier); }

  void invalidate() override { record("invalidated " + domain_.identifier); }
  ProgressPtr itemForIdentifier(const ItemIdentifier& identifier, ItemCompletion completion) override {
    completion(nullptr, FileProviderError::nonExistentItem(identifier.rawValue));
    return Progress::withTotalUnitCount(0);
  }
  ProgressPtr fetchContents(const ItemIdentifier& identifier, std::optional<ItemVersion>,
                            FetchCompletion completion) override {
    completion(std::nullopt, nullptr, FileProviderError::nonExistentItem(identifier.rawValue));
    return Progress::withTotalUnitCount(0);
  }
  ProgressPtr createItem(ItemPtr, uint32_t, std::optional<std::filesystem::path>,
                         WriteCompletion completion) override {
    completion(nullptr, 0, false, CocoaError::make(CocoaError::featureUnsupported));
    return Progress::withTotalUnitCount(0);
  }
  ProgressPtr modifyItem(ItemPtr, ItemVersion, uint32_t, std::optional<std::filesystem::path>,
                         WriteCompletion completion) override {
    completion(nullptr, 0, false, CocoaError::make(CocoaError::featureUnsupported));
    return Progress::withTotalUnitCount(0);
  }
  ProgressPtr deleteItem(const ItemIdentifier&, ItemVersion, ErrorCompletion completion) override {
    completion(CocoaError::make(CocoaError::featureUnsupported));
    return Progress::withTotalUnitCount(0);
  }
  std::expected<std::shared_ptr<Enumerator>, Error> enumeratorForContainer(const ItemIdentifier& container) override {
    if (container == workingSetItemIdentifier) return std::make_shared<WorkingSet>();
    return std::unexpected(FileProviderError::nonExistentItem(container.rawValue));
  }
  ProgressPtr supportedServiceSources(const ItemIdentifier& item, ServiceSourcesCompletion completion) override {
    record("service sources for " + item.rawValue);
    completion({source_}, std::nullopt);
    return Progress::withTotalUnitCount(0);
  }
  ProgressPtr performAction(const std::string&, const std::vector<ItemIdentifier>&,
                            ErrorCompletion completion) override {
    completion(CocoaError::make(CocoaError::featureUnsupported));
    return Progress::withTotalUnitCount(0);
  }

 private:
  Domain domain_;
  std::shared_ptr<EchoSource> source_ = std::make_shared<EchoSource>();
};

}  // namespace

OSTREL_FILE_PROVIDER_PRINCIPAL_CLASS(TestExtension)
