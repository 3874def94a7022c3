// Creating, modifying, deleting and the custom actions, against the
// reference service (with a recording server where exact requests matter).
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include <nlohmann/json.hpp>

#include "drive/extension/tests/extension_fixture.h"
#include "drive/extension/tests/fake_host.h"
#include "drive/extension/write_support.h"
#include "drive/model/drive_id.h"
#include "drive/model/drive_item.h"
#include "platform/fileprovider/testing/recording_observers.h"
#include "platform/foundation/testing/loopback_http_server.h"
#include "tools/testing/reference_service.h"

namespace ostrel::drive::testing {
namespace {

using namespace fileprovider;
using ostrel::testing::LoopbackHttpServer;
using ostrel::testing::ReferenceService;

// The item the system hands over for a new or changed file.
class TemplateItem final : public Item {
 public:
  TemplateItem(std::string id, std::string parent, std::string filename, std::optional<std::string> type)
      : id_(std::move(id)), parent_(std::move(parent)), filename_(std::move(filename)), type_(std::move(type)) {}
  ItemIdentifier itemIdentifier() const override { return id_ == "root" ? rootContainerItemIdentifier : ItemIdentifier{id_}; }
  ItemIdentifier parentItemIdentifier() const override { return ItemIdentifier{parent_}; }
  std::string filename() const override { return filename_; }
  std::optional<std::string> contentType() const override { return type_; }

 private:
  std::string id_, parent_, filename_;
  std::optional<std::string> type_;
};

struct WriteResult {
  ItemPtr item;
  std::optional<Error> error;
};

class WritesTest : public ExtensionFixture {
 protected:
  void start(const std::string& base) {
    extension = makeExtension(base);
    extension->tokens()->store("test-token", clock.inSeconds(3600));
  }
  void TearDown() override {
    extension.reset();
    ExtensionFixture::TearDown();
  }
  std::filesystem::path file(const std::string& bytes, const std::string& name = "local.bin") {
    auto path = home / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  WriteResult create(const std::string& parent, const std::string& name, std::optional<std::string> type,
                     std::optional<std::filesystem::path> contents) {
    std::promise<WriteResult> done;
    extension->createItem(std::make_shared<TemplateItem>("new", parent, name, type), 0, contents,
                          [&](ItemPtr item, uint32_t, bool, std::optional<Error> error) { done.set_value({item, error}); });
    return done.get_future().get();
  }
  WriteResult modify(const std::string& id, const std::string& parent, const std::string& name, uint32_t fields,
                     std::optional<std::filesystem::path> contents, std::string baseContentVersion = "") {
    std::promise<WriteResult> done;
    extension->modifyItem(std::make_shared<TemplateItem>(id, parent, name, std::nullopt), {baseContentVersion, ""},
                          fields, contents,
                          [&](ItemPtr item, uint32_t, bool, std::optional<Error> error) { done.set_value({item, error}); });
    return done.get_future().get();
  }
  std::optional<Error> remove(const std::string& id) {
    std::promise<std::optional<Error>> done;
    extension->deleteItem(ItemIdentifier{id}, {}, [&](std::optional<Error> error) { done.set_value(error); });
    return done.get_future().get();
  }
  std::optional<Error> action(const std::string& action, std::vector<ItemIdentifier> items, ProgressPtr* progress = nullptr) {
    std::promise<std::optional<Error>> done;
    auto p = extension->performAction(action, items, [&](std::optional<Error> error) { done.set_value(error); });
    if (progress) *progress = p;
    return done.get_future().get();
  }

  std::unique_ptr<FileProviderExtension> extension;
};

// Exact requests and the refusal rules, against a recording server.
class RecordedWritesTest : public WritesTest {
 protected:
  void SetUp() override {
    WritesTest::SetUp();
    start(server.base());
  }
  std::vector<std::string> requestLines() {
    std::vector<std::string> out;
    for (const auto& r : server.requests()) out.push_back(r.method + " " + r.target);
    return out;
  }
  LoopbackHttpServer server;
};

TEST_F(RecordedWritesTest, AdmissionRefusesWithoutARequest) {
  const std::tuple<std::string, std::string, std::optional<std::string>> refused[] = {
      {"matter:1", "Brief.docx", std::nullopt},
      {"NSFileProviderRootContainerItemIdentifier", "Brief.docx", std::nullopt},
      {"doc:1", "Brief.docx", std::nullopt},
      {"folder:1", "~$Brief.docx", std::nullopt},
      {"folder:1", "~WRL0001.tmp", std::nullopt},
      {"folder:1", "link", "public.symlink"},
      {"folder:1", "alias", "com.apple.alias-file"},
  };
  for (const auto& [parent, name, type] : refused) {
    auto result = create(parent, name, type, file("bytes"));
    EXPECT_EQ(result.error, FileProviderError::make(FileProviderError::excludedFromSync)) << parent << " " << name;
  }
  auto empty = create("folder:1", "Empty.docx", std::nullopt, file(""));
  EXPECT_EQ(empty.error, WriteSupport::awaitingContents());
  auto none = create("folder:1", "None.docx", std::nullopt, std::nullopt);
  EXPECT_EQ(none.error, WriteSupport::awaitingContents());
  EXPECT_TRUE(server.requests().empty());
  EXPECT_TRUE(logs.messages(LogLevel::Fault).empty());
}

TEST_F(RecordedWritesTest, RefusedCreationsStayLocalOrCollide) {
  struct Case {
    int status;
    std::string code;
    Error expected;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {403, "forbidden", FileProviderError::make(FileProviderError::excludedFromSync),
       {"create refused forbidden; kept local"}},
      {422, "unknown_file_type", FileProviderError::make(FileProviderError::excludedFromSync),
       {"create refused unknown_file_type; kept local"}},
      {409, "name_conflict", FileProviderError::make(FileProviderError::filenameCollision), {}},
      {409, "other", DriveRefusal{409, "other"}.asError(), {}},
  };
  for (const auto& c : cases) {
    server.on("POST", "/api/drive/items",
              LoopbackHttpServer::json(c.status, R"({"detail":{"code":")" + c.code + R"("}})"));
    logs.clear();
    auto result = create("folder:1", "Pleadings", "public.folder", std::nullopt);
    EXPECT_EQ(result.error, c.expected) << c.code;
    auto notices = logs.messages(LogLevel::Default);
    std::erase_if(notices, [](const std::string& line) { return !line.starts_with("create refused"); });
    EXPECT_EQ(notices, c.logged) << c.code;
  }
}

TEST_F(RecordedWritesTest, ModifyChecksTheIdentifierBeforeSending) {
  struct Case {
    std::string id;
    uint32_t fields;
    std::string fault;
  };
  const Case cases[] = {
      {"ver:1", filenameField, R"(modifyItem ver:1 can't take ["rename"])"},
      {"folder:1", contentsField | filenameField, R"(modifyItem folder:1 can't take ["rename", "write"])"},
      {"matter:1", parentItemIdentifierField, R"(modifyItem matter:1 can't take ["reparent"])"},
      {"doc:1", 2048, "modifyItem doc:1 can't take []"},
  };
  for (const auto& c : cases) {
    logs.clear();
    auto result = modify(c.id, "folder:1", "x.docx", c.fields, file("bytes"));
    EXPECT_EQ(result.error, CocoaError::make(CocoaError::featureUnsupported)) << c.id;
    EXPECT_EQ(logs.messages(LogLevel::Fault), std::vector<std::string>{c.fault});
  }
  auto empty = modify("ver:1", "doc:1", "x.docx", contentsField, file(""));
  EXPECT_EQ(empty.error, WriteSupport::awaitingContents());
  EXPECT_TRUE(server.requests().empty());

  auto root = modify("root", "root", "x", contentsField, std::nullopt);
  ASSERT_TRUE(root.item);
  EXPECT_EQ(root.item->filename(), "Ostrel");
}

TEST_F(RecordedWritesTest, SavingAndRenamingAtOnceIsMoreThanAnyFileTakes) {
  // Files (versions, drafts) take only new bytes; containers take only names
  // and places: no identifier admits both, so nothing is sent.
  for (const char* id : {"ver:1", "dfl:1"}) {
    logs.clear();
    auto result = modify(id, "doc:1", "Renamed.docx", contentsField | filenameField, file("bytes"));
    EXPECT_EQ(result.error, CocoaError::make(CocoaError::featureUnsupported));
    EXPECT_EQ(logs.messages(LogLevel::Fault),
              std::vector<std::string>{std::string("modifyItem ") + id + R"( can't take ["rename", "write"])"});
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(RecordedWritesTest, FailedWritesLeaveTheLocalFileAlone) {
  const std::string bytes = "the partner's only copy";
  server.on("POST", "/api/drive/uploads", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(R"({"upload_id":"u1","url":")" + server.base() + R"(/put","headers":{}})", "application/json");
  });
  server.on("PUT", "/put", LoopbackHttpServer::json(201, ""));
  server.on("POST", "/api/drive/items", LoopbackHttpServer::json(403, R"({"detail":{"code":"forbidden"}})"));
  server.on("PUT", "/api/drive/items/ver:1/draft", LoopbackHttpServer::json(500, ""));

  const auto created = file(bytes, "created.docx");
  EXPECT_EQ(create("folder:1", "created.docx", std::nullopt, created).error,
            FileProviderError::make(FileProviderError::excludedFromSync));
  const auto saved = file(bytes, "saved.docx");
  EXPECT_EQ(modify("ver:1", "doc:1", "saved.docx", contentsField, saved).error, (DriveRefusal{500, std::nullopt}.asError()));
  for (const auto& path : {created, saved}) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes) << path;
  }
}

TEST_F(RecordedWritesTest, RenameAndMoveAreOnePatch) {
  server.on("PATCH", "/api/drive/items/doc:1",
            LoopbackHttpServer::json(200, R"({"identifier":"doc:1","parent_identifier":"folder:2","kind":"container",
              "filename":"New.docx","content_version":"c","metadata_version":"m2","capabilities":[]})"));
  auto result = modify("doc:1", "folder:2", "New.docx", filenameField | parentItemIdentifierField | tagDataField,
                       std::nullopt);
  ASSERT_FALSE(result.error) << result.error->localizedDescription();
  EXPECT_EQ(result.item->itemVersion()->metadataVersion, "m2");
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(seen[0].body), (nlohmann::json{{"filename", "New.docx"}, {"parent", "folder:2"}}));
}

TEST_F(RecordedWritesTest, DeletionRules) {
  for (const char* refused : {"matter:1", "ver:1", "dfl:1", "save:1", "root"}) {
    EXPECT_EQ(remove(refused), FileProviderError::make(FileProviderError::deletionRejected)) << refused;
  }
  EXPECT_TRUE(server.requests().empty());

  struct Case {
    int status;
    std::string body;
    std::optional<Error> expected;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {204, "", std::nullopt, {}},
      {409, R"({"detail":{"code":"folder_not_empty"}})", FileProviderError::make(FileProviderError::deletionRejected),
       {"delete refused folder_not_empty"}},
      {403, "", FileProviderError::make(FileProviderError::deletionRejected), {"delete refused "}},
      {500, "", DriveRefusal{500, std::nullopt}.asError(), {}},
      {404, "", FileProviderError::nonExistentItem("folder:1"), {}},
  };
  for (const auto& c : cases) {
    server.on("DELETE", "/api/drive/items/folder:1", LoopbackHttpServer::json(c.status, c.body));
    logs.clear();
    EXPECT_EQ(remove("folder:1"), c.expected) << c.status;
    auto notices = logs.messages(LogLevel::Default);
    std::erase_if(notices, [](const std::string& line) { return !line.starts_with("delete refused"); });
    EXPECT_EQ(notices, c.logged);
    if (c.status == 500) {
      EXPECT_EQ(logs.messages(LogLevel::Error),
                (std::vector<std::string>{"DELETE items status=500", "write failed: Ostrel refused the change (500)"}));
    }
  }
}

TEST_F(RecordedWritesTest, ActionsTakeExactlyOneItem) {
  const std::pair<std::string, std::vector<ItemIdentifier>> refused[] = {
      {FileProviderExtension::openInOstrelAction, {{"doc:1"}, {"doc:2"}}},
      {FileProviderExtension::openInOstrelAction, {}},
      {FileProviderExtension::continueFromSaveAction, {{"save:1"}, {"save:2"}}},
      {"local.ostrel.drive.unknown", {{"doc:1"}}},
  };
  for (const auto& [name, items] : refused) {
    ProgressPtr progress;
    EXPECT_EQ(action(name, items, &progress), CocoaError::make(CocoaError::featureUnsupported)) << name;
    EXPECT_EQ(progress->totalUnitCount(), std::max<int64_t>(static_cast<int64_t>(items.size()), 1));
  }
  EXPECT_TRUE(server.requests().empty());
}

// Whole write flows against the reference service.
class ServiceWritesTest : public WritesTest {
 protected:
  void SetUp() override {
    WritesTest::SetUp();
    ASSERT_TRUE(service.running());
    start(service.base());
  }
  std::vector<ItemPtr> list(const ItemIdentifier& container) {
    auto observer = std::make_shared<fileprovider::testing::RecordingEnumerationObserver>(500);
    (*extension->enumeratorForContainer(container))->enumerateItems(observer, initialPageSortedByName);
    EXPECT_TRUE(observer->wait());
    return observer->items();
  }
  // A writable folder of the partner's: the first folder of the first matter that has one.
  std::string writableFolder() {
    for (auto& matter : list({"my-matters"})) {
      for (auto& child : list(matter->itemIdentifier())) {
        if (child->itemIdentifier().rawValue.starts_with("folder:") && (child->capabilities() & allowsWriting)) {
          return child->itemIdentifier().rawValue;
        }
      }
    }
    return {};
  }
  ReferenceService service;
};

TEST_F(ServiceWritesTest, ANewFileBecomesADocumentAnsweredByItsNewestVersion) {
  const std::string folder = writableFolder();
  ASSERT_FALSE(folder.empty());
  auto created = create(folder, "Engagement terms.docx", "org.openxmlformats.wordprocessingml.document",
                        file("first draft of the terms"));
  ASSERT_FALSE(created.error) << created.error->localizedDescription();
  EXPECT_TRUE(created.item->itemIdentifier().rawValue.starts_with("ver:"));
  EXPECT_EQ(created.item->documentSize(), 24);
  auto notices = logs.messages(LogLevel::Default);
  EXPECT_TRUE(std::any_of(notices.begin(), notices.end(), [](const std::string& line) {
    return line.starts_with("created doc:") && line.ends_with(" outcome=created");
  }));
  for (int i = 0; i < 500 && manager->signals().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(manager->signals(), std::vector<ItemIdentifier>{workingSetItemIdentifier});

  auto folderCreated = create(folder, "Correspondence", "public.folder", std::nullopt);
  ASSERT_FALSE(folderCreated.error) << folderCreated.error->localizedDescription();
  EXPECT_TRUE(folderCreated.item->itemIdentifier().rawValue.starts_with("folder:"));
  auto again = create(folder, "Correspondence", "public.folder", std::nullopt);
  EXPECT_EQ(again.error, FileProviderError::make(FileProviderError::filenameCollision));
}

TEST_F(ServiceWritesTest, SavingOverAVersionMakesADraftAgainstIt) {
  const std::string folder = writableFolder();
  auto created = create(folder, "Memo.docx", std::nullopt, file("version one"));
  ASSERT_FALSE(created.error);
  const std::string version = created.item->itemIdentifier().rawValue;
  const std::string document = created.item->parentItemIdentifier().rawValue;
  const std::string base = created.item->itemVersion()->contentVersion;

  logs.clear();
  auto saved = modify(version, document, "Memo.docx", contentsField, file("version one, edited"), base);
  ASSERT_FALSE(saved.error) << saved.error->localizedDescription();
  EXPECT_TRUE(saved.item->itemIdentifier().rawValue.starts_with("dfl:"));
  EXPECT_EQ(saved.item->documentSize(), 19);
  EXPECT_EQ(logs.messages(LogLevel::Default),
            std::vector<std::string>{"draft saved " + version + " base=" + *DriveID::versionID(base)});

  logs.clear();
  auto unbased = modify(version, document, "Memo.docx", contentsField, file("no base"), "not-a-uuid");
  ASSERT_FALSE(unbased.error) << unbased.error->localizedDescription();
  EXPECT_EQ(logs.messages(LogLevel::Default), std::vector<std::string>{"draft saved " + version + " base=none"});
}

TEST_F(ServiceWritesTest, DeleteAndOpenInAndContinueFromSave) {
  const std::string folder = writableFolder();
  auto created = create(folder, "Scratch", "public.folder", std::nullopt);
  ASSERT_FALSE(created.error);
  EXPECT_EQ(remove(created.item->itemIdentifier().rawValue), std::nullopt);
  auto deletedAgain = remove(created.item->itemIdentifier().rawValue);
  EXPECT_TRUE(deletedAgain.has_value());

  auto host = FakeHost::connect(*[&] {
    std::shared_ptr<ServiceSource> source;
    extension->supportedServiceSources(ItemIdentifier{"doc:1"}, [&](auto sources, auto) { source = sources.front(); });
    return source->makeListenerEndpoint();
  }());
  ASSERT_TRUE(host->attach());
  ProgressPtr progress;
  EXPECT_EQ(action(FileProviderExtension::openInOstrelAction, {ItemIdentifier{folder}}, &progress), std::nullopt);
  ASSERT_TRUE(host->waitForOpenedURLs(1));
  EXPECT_TRUE(host->openedURLs()[0].starts_with(service.base())) << host->openedURLs()[0];
  EXPECT_EQ(progress->completedUnitCount(), 1);

  // Find a save somewhere in the drive.
  std::optional<ItemIdentifier> save;
  std::function<void(const ItemIdentifier&, int)> search = [&](const ItemIdentifier& container, int depth) {
    for (auto& child : list(container)) {
      if (save || depth > 6) return;
      const std::string& id = child->itemIdentifier().rawValue;
      if (id.starts_with("save:")) save = child->itemIdentifier();
      if (DriveID::isContainer(id)) search(child->itemIdentifier(), depth + 1);
    }
  };
  search({"admin-all"}, 0);
  ASSERT_TRUE(save);
  const size_t signalsBefore = manager->signals().size();
  EXPECT_EQ(action(FileProviderExtension::continueFromSaveAction, {*save}), std::nullopt);
  EXPECT_EQ(manager->signals().size(), signalsBefore + 1);
  EXPECT_EQ(manager->signals().back(), workingSetItemIdentifier);
}

}  // namespace
}  // namespace ostrel::drive::testing
