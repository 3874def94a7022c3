// The extension in process against the reference service: configuration,
// enumerators, lookup and fetch.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <set>
#include <thread>

#include "drive/extension/tests/extension_fixture.h"
#include "platform/fileprovider/testing/recording_observers.h"
#include "tools/testing/reference_service.h"

namespace ostrel::drive::testing {
namespace {

using fileprovider::ItemIdentifier;
using fileprovider::ItemPtr;
using fileprovider::testing::RecordingEnumerationObserver;
using ostrel::testing::ReferenceService;

struct LookupResult {
  ItemPtr item;
  std::optional<Error> error;
};

class ExtensionTest : public ExtensionFixture {
 protected:
  void SetUp() override {
    ExtensionFixture::SetUp();
    ASSERT_TRUE(service.running());
    extension = makeExtension(service.base());
    extension->tokens()->store("test-token", clock.inSeconds(3600));
  }
  void TearDown() override {
    extension.reset();
    ExtensionFixture::TearDown();
  }

  LookupResult lookup(FileProviderExtension& ext, const ItemIdentifier& identifier) {
    std::promise<LookupResult> done;
    ext.itemForIdentifier(identifier, [&](ItemPtr item, std::optional<Error> error) { done.set_value({item, error}); });
    return done.get_future().get();
  }
  std::vector<ItemPtr> list(const ItemIdentifier& container) {
    std::vector<ItemPtr> all;
    fileprovider::Page page = fileprovider::initialPageSortedByName;
    for (int pages = 0; pages < 100; ++pages) {
      auto observer = std::make_shared<RecordingEnumerationObserver>(7);
      auto enumerator = extension->enumeratorForContainer(container);
      if (!enumerator) return all;
      (*enumerator)->enumerateItems(observer, page);
      EXPECT_TRUE(observer->wait());
      EXPECT_FALSE(observer->error());
      auto items = observer->items();
      all.insert(all.end(), items.begin(), items.end());
      if (!observer->nextPage()) break;
      page = *observer->nextPage();
    }
    return all;
  }
  // The first item below `container` whose identifier starts with `prefix`.
  ItemPtr firstOf(const ItemIdentifier& container, std::string_view prefix) {
    for (auto& item : list(container)) {
      if (item->itemIdentifier().rawValue.starts_with(prefix)) return item;
    }
    return nullptr;
  }

  ReferenceService service;
  std::unique_ptr<FileProviderExtension> extension;
};

TEST_F(ExtensionTest, UnconfiguredExtensionsStillAnswerTheRoot) {
  struct Case {
    std::string name;
    std::function<void()> prepare;
    std::string fault;
  };
  const Case cases[] = {
      {"missing", [] {}, "no config for domain missing"},
      {"partial", [this] { writeConfig("partial", R"({"apiBase":"http://h/"})"); }, "no config for domain partial"},
      {"badurl", [this] { writeConfig("badurl", R"({"apiBase":"not a url","displayName":"D"})"); }, ""},
      {"../escape", [] {}, "no config for domain ../escape"},
  };
  for (const auto& c : cases) {
    c.prepare();
    logs.clear();
    auto unconfigured = makeUnconfigured(c.name);
    EXPECT_FALSE(unconfigured->isConfigured()) << c.name;
    auto faults = logs.messages(LogLevel::Fault);
    EXPECT_EQ(faults, c.fault.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.fault}) << c.name;
    EXPECT_EQ(logs.messages(LogLevel::Default),
              std::vector<std::string>{"init domain=" + c.name + " configured=false"});

    auto enumerator = unconfigured->enumeratorForContainer(fileprovider::workingSetItemIdentifier);
    ASSERT_FALSE(enumerator);
    EXPECT_EQ(enumerator.error(), FileProviderError::make(FileProviderError::cannotSynchronize));
    auto root = lookup(*unconfigured, fileprovider::rootContainerItemIdentifier);
    ASSERT_TRUE(root.item);
    EXPECT_EQ(root.item->filename(), "Ostrel");
    auto other = lookup(*unconfigured, ItemIdentifier{"doc:1"});
    EXPECT_EQ(other.error, FileProviderError::make(FileProviderError::cannotSynchronize));
  }
}

TEST_F(ExtensionTest, NoAppGroupMeansNoConfiguration) {
  std::ofstream(bundleRoot / "Contents" / "Info.plist") << "<?xml version=\"1.0\"?><plist><dict></dict></plist>";
  logs.clear();
  auto unconfigured = makeUnconfigured("firm");
  EXPECT_FALSE(unconfigured->isConfigured());
  EXPECT_EQ(logs.messages(LogLevel::Fault), std::vector<std::string>{"no App Group container"});
}

TEST_F(ExtensionTest, EnumeratorsOnlyForKnownContainers) {
  EXPECT_TRUE(extension->enumeratorForContainer(fileprovider::rootContainerItemIdentifier));
  EXPECT_TRUE(extension->enumeratorForContainer(fileprovider::workingSetItemIdentifier));
  for (const char* refused : {"ver:1", "x:1", "save:2", "dfl:1"}) {
    auto enumerator = extension->enumeratorForContainer(ItemIdentifier{refused});
    ASSERT_FALSE(enumerator) << refused;
    EXPECT_EQ(enumerator.error(), FileProviderError::nonExistentItem(refused));
  }
}

TEST_F(ExtensionTest, RecentContainersKeepTheLast16) {
  for (int i = 1; i <= 17; ++i) ASSERT_TRUE(extension->enumeratorForContainer({"folder:" + std::to_string(i)}));
  ASSERT_TRUE(extension->enumeratorForContainer(fileprovider::workingSetItemIdentifier));
  auto recent = extension->recentContainers();
  ASSERT_EQ(recent.size(), 16u);
  EXPECT_EQ(recent.front().rawValue, "folder:2");
  EXPECT_EQ(recent.back().rawValue, "folder:17");

  ASSERT_TRUE(extension->enumeratorForContainer({"folder:2"}));
  recent = extension->recentContainers();
  ASSERT_EQ(recent.size(), 16u);
  EXPECT_EQ(recent.front().rawValue, "folder:3");
  EXPECT_EQ(recent.back().rawValue, "folder:2");
}

TEST_F(ExtensionTest, RecentContainersUnderConcurrentEnumeration) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) (void)extension->enumeratorForContainer({"folder:" + std::to_string(t * 100 + i)});
    });
  }
  for (auto& thread : threads) thread.join();
  auto recent = extension->recentContainers();
  EXPECT_EQ(recent.size(), 16u);
  std::set<ItemIdentifier> unique(recent.begin(), recent.end());
  EXPECT_EQ(unique.size(), 16u);
}

TEST_F(ExtensionTest, ListsTheDriveFromTheRoot) {
  auto top = list(fileprovider::rootContainerItemIdentifier);
  std::vector<std::string> names;
  for (auto& item : top) names.push_back(item->itemIdentifier().rawValue);
  EXPECT_EQ(names, (std::vector<std::string>{"my-matters", "admin-all"}));
  auto matters = list({"admin-all"});
  ASSERT_GE(matters.size(), 3u);
  for (auto& matter : matters) EXPECT_EQ(matter->capabilities(), 1u) << matter->itemIdentifier().rawValue;
}

TEST_F(ExtensionTest, LookupAnswersFromTheServiceOrRefusesUnknownKinds) {
  auto root = lookup(*extension, fileprovider::rootContainerItemIdentifier);
  ASSERT_TRUE(root.item);
  EXPECT_EQ(root.item->filename(), "Ostrel");

  auto unknown = lookup(*extension, ItemIdentifier{"x:1"});
  EXPECT_EQ(unknown.error, FileProviderError::nonExistentItem("x:1"));

  auto lists = lookup(*extension, ItemIdentifier{"my-matters"});
  ASSERT_TRUE(lists.item) << (lists.error ? lists.error->localizedDescription() : "");
  EXPECT_EQ(lists.item->parentItemIdentifier(), fileprovider::rootContainerItemIdentifier);

  auto gone = lookup(*extension, ItemIdentifier{"doc:999999"});
  EXPECT_EQ(gone.error, FileProviderError::nonExistentItem("doc:999999"));
}

struct FetchResult {
  std::optional<std::filesystem::path> file;
  ItemPtr item;
  std::optional<Error> error;
};

TEST_F(ExtensionTest, FetchHandsOverTheDownloadAndTheContentItem) {
  // Find a document somewhere below the partner's matters and its newest version.
  ItemPtr version;
  for (auto& matter : list({"my-matters"})) {
    for (auto& child : list(matter->itemIdentifier())) {
      if (!child->itemIdentifier().rawValue.starts_with("doc:")) continue;
      version = firstOf(child->itemIdentifier(), "ver:");
      if (version) break;
    }
    if (version) break;
  }
  ASSERT_TRUE(version);

  std::promise<FetchResult> done;
  auto progress = extension->fetchContents(version->itemIdentifier(), std::nullopt,
                                           [&](auto file, auto item, auto error) { done.set_value({file, item, error}); });
  auto fetched = done.get_future().get();
  ASSERT_FALSE(fetched.error) << fetched.error->localizedDescription();
  ASSERT_TRUE(fetched.file);
  EXPECT_EQ(fetched.file->parent_path(), manager->directory());
  EXPECT_EQ(std::filesystem::file_size(*fetched.file), static_cast<uintmax_t>(*fetched.item->documentSize()));
  EXPECT_EQ(fetched.item->itemIdentifier(), version->itemIdentifier());
  EXPECT_EQ(fetched.item->itemVersion(), version->itemVersion());
  // Counted in bytes, with the file they were written to while they arrived.
  const auto size = static_cast<int64_t>(std::filesystem::file_size(*fetched.file));
  EXPECT_EQ(progress->completedUnitCount(), size);
  EXPECT_EQ(progress->totalUnitCount(), size);
  ASSERT_TRUE(progress->fileURL());
  EXPECT_EQ(progress->fileURL()->parent_path(), manager->directory());
}

TEST_F(ExtensionTest, FetchRefusesContainersAndReportsFailures) {
  std::promise<FetchResult> container;
  extension->fetchContents(ItemIdentifier{"folder:1"}, std::nullopt,
                           [&](auto file, auto item, auto error) { container.set_value({file, item, error}); });
  auto refused = container.get_future().get();
  EXPECT_EQ(refused.error, FileProviderError::nonExistentItem("folder:1"));

  manager->failTemporaryDirectoryWith(POSIXError::make(ENOSPC));
  auto version = firstOf(list({"my-matters"}).front()->itemIdentifier(), "doc:");
  ASSERT_TRUE(version);
  auto newest = firstOf(version->itemIdentifier(), "ver:");
  ASSERT_TRUE(newest);
  std::promise<FetchResult> noDirectory;
  extension->fetchContents(newest->itemIdentifier(), std::nullopt,
                           [&](auto file, auto item, auto error) { noDirectory.set_value({file, item, error}); });
  EXPECT_EQ(noDirectory.get_future().get().error, POSIXError::make(ENOSPC));

  fileprovider::setManagerLookup([](const fileprovider::Domain&) { return nullptr; });
  std::promise<FetchResult> noManager;
  extension->fetchContents(newest->itemIdentifier(), std::nullopt,
                           [&](auto file, auto item, auto error) { noManager.set_value({file, item, error}); });
  EXPECT_EQ(noManager.get_future().get().error, FileProviderError::make(FileProviderError::cannotSynchronize));
}

TEST_F(ExtensionTest, CancellingTheProgressCancelsTheFetch) {
  service.admin("POST", "/admin/faults", R"({"method":"*","path_prefix":"/api/drive/items/","delay_ms":1000})");
  std::promise<FetchResult> done;
  auto progress = extension->fetchContents(ItemIdentifier{"ver:00000000-0000-0000-0000-000000000000"}, std::nullopt,
                                           [&](auto file, auto item, auto error) { done.set_value({file, item, error}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  progress->cancel();
  EXPECT_EQ(done.get_future().get().error, CocoaError::make(CocoaError::userCancelled));
}

}  // namespace
}  // namespace ostrel::drive::testing
