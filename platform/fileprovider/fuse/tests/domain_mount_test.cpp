#include "platform/fileprovider/fuse/tests/mount_fixture.h"

#include <limits>

namespace ostrel::fileprovider {
namespace {

using namespace testing;
namespace fs = std::filesystem;

TEST_F(DomainMountTest, ShowsNestedFoldersWithSizesDatesAndModes) {
  auto cases = extension_->addFolder(rootContainerItemIdentifier, "Cases");
  auto smith = extension_->addFolder(cases, "Smith");
  extension_->addFile(smith, "brief.docx", "brief bytes");
  extension_->addFile(cases, "index.txt", "0123456789");
  auto locked = extension_->addFile(rootContainerItemIdentifier, "locked.pdf", "pdf", {},
                                    allowsReading | allowsDeleting);
  mountDrive();

  std::set<std::string> seen;
  for (const auto& entry : fs::recursive_directory_iterator(mount_->mountPoint()))
    seen.insert(fs::relative(entry.path(), mount_->mountPoint()).string());
  EXPECT_EQ(seen, (std::set<std::string>{"Cases", "Cases/Smith", "Cases/Smith/brief.docx", "Cases/index.txt",
                                         "locked.pdf"}));

  struct Expectation {
    std::string path;
    bool directory;
    mode_t permissions;
  };
  for (const auto& expected : std::vector<Expectation>{{"Cases", true, 0755},
                                                       {"Cases/Smith/brief.docx", false, 0644},
                                                       {"locked.pdf", false, 0444}}) {
    SCOPED_TRACE(expected.path);
    struct stat attributes {};
    ASSERT_EQ(::stat(at(expected.path).c_str(), &attributes), 0);
    EXPECT_EQ(S_ISDIR(attributes.st_mode), expected.directory);
    EXPECT_EQ(attributes.st_mode & 0777, expected.permissions);
  }
  struct stat index {};
  ASSERT_EQ(::stat(at("Cases/index.txt").c_str(), &index), 0);
  auto item = extension_->item(*extension_->find(cases, "index.txt"));
  EXPECT_EQ(index.st_size, *item->documentSize());
  EXPECT_EQ(index.st_mtim.tv_sec, item->contentModificationDate()->time_since_epoch().count() / 1000);
  // A file without the writing capability cannot be opened for writing.
  EXPECT_EQ(errnoOf(UniqueFd(::open(at("locked.pdf").c_str(), O_WRONLY)).valid() ? 0 : -1), EACCES);
  (void)locked;
}

TEST_F(DomainMountTest, ListsAFolderOfManyPagesOnceAndLooksUpFromTheCache) {
  constexpr size_t itemCount = 10000;
  constexpr size_t pageSize = 500;
  auto big = extension_->addFolder(rootContainerItemIdentifier, "Big");
  std::set<std::string> expected;
  for (size_t i = 0; i < itemCount; ++i) {
    const std::string name = "doc-" + std::to_string(i) + ".txt";
    extension_->addFile(big, name, std::to_string(i));
    expected.insert(name);
  }
  extension_->setPageSize(pageSize);
  mountDrive();

  EXPECT_EQ(namesIn(at("Big")), expected);
  const size_t pages = extension_->pagesListed(big);
  EXPECT_EQ(pages, (itemCount + pageSize - 1) / pageSize);
  for (size_t i = 0; i < itemCount; i += 997) {
    struct stat attributes {};
    EXPECT_EQ(::stat(at("Big/doc-" + std::to_string(i) + ".txt").c_str(), &attributes), 0);
    EXPECT_EQ(attributes.st_size, static_cast<off_t>(std::to_string(i).size()));
  }
  EXPECT_EQ(::access(at("Big/missing.txt").c_str(), F_OK), -1);
  EXPECT_EQ(extension_->pagesListed(big), pages);
}

TEST_F(DomainMountTest, FetchesContentsOnceReadsAtOffsetsAndFetchesANewVersion) {
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + (i * 7) % 26);
  auto file = extension_->addFile(rootContainerItemIdentifier, "large.txt", bytes);
  mountDrive();

  EXPECT_EQ(readFile(at("large.txt")), bytes);
  EXPECT_EQ(readFile(at("large.txt")), bytes);
  {
    UniqueFd fd(::open(at("large.txt").c_str(), O_RDONLY));
    ASSERT_TRUE(fd.valid());
    char chunk[100];
    const off_t offset = 2 * 1024 * 1024 + 5;
    ASSERT_EQ(::pread(fd.get(), chunk, sizeof chunk, offset), static_cast<ssize_t>(sizeof chunk));
    EXPECT_EQ(std::string(chunk, sizeof chunk), bytes.substr(offset, sizeof chunk));
  }
  EXPECT_EQ(extension_->fetches(file), 1u);
  // The cached files live in the domain's contents directory.
  EXPECT_FALSE(fs::is_empty(storage_.contentsDirectory()));

  mount_->applyChanges({extension_->replaceBytes(file, "second version")}, {});
  EXPECT_EQ(readFile(at("large.txt")), "second version");
  EXPECT_EQ(extension_->fetches(file), 2u);
}

TEST_F(DomainMountTest, NewFilesAndFoldersAreCreatedWithTheirBytes) {
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "Matter");
  mountDrive();

  writeFile(at("Matter/note.txt"), "hello");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.created().size() == 1; }));
  auto created = extension_->created()[0];
  EXPECT_EQ(created.filename, "note.txt");
  EXPECT_EQ(created.parent, folder);
  EXPECT_EQ(created.contentType, "public.plain-text");
  EXPECT_EQ(created.bytes, "hello");
  EXPECT_EQ(readFile(at("Matter/note.txt")), "hello");

  ASSERT_EQ(::mkdir(at("Matter/Drafts").c_str(), 0755), 0);
  auto drafts = extension_->find(folder, "Drafts");
  ASSERT_TRUE(drafts.has_value());
  EXPECT_EQ(extension_->created()[1].contentType, "public.folder");
  writeFile(at("Matter/Drafts/inner.bin"), "inner");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.created().size() == 3; }));
  EXPECT_EQ(extension_->created()[2].parent, *drafts);
  EXPECT_EQ(extension_->created()[2].contentType, "public.data");
  EXPECT_EQ(extension_->created()[2].bytes, "inner");
  // Accepted items leave nothing behind in the local-only store.
  ASSERT_TRUE(extension_->waitUntil([&](auto&) { return localCopiesHolding("inner") == 0; }));
}

TEST_F(DomainMountTest, EditsAreSentWithTheVersionTheyStartedFrom) {
  struct Case {
    const char* name;
    std::ios::openmode mode;
    std::string written;
    std::string expected;
  };
  for (const auto& edit : std::vector<Case>{{"append", std::ios::app, " more", "original more"},
                                            {"truncate", std::ios::trunc, "replaced", "replaced"}}) {
    SCOPED_TRACE(edit.name);
    TearDown();
    SetUp();
    auto file = extension_->addFile(rootContainerItemIdentifier, "memo.txt", "original");
    const auto base = *extension_->item(file)->itemVersion();
    mountDrive();

    writeFile(at("memo.txt"), edit.written, edit.mode);
    ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.modified().size() == 1; }));
    auto modified = extension_->modified()[0];
    EXPECT_EQ(modified.identifier, file);
    EXPECT_EQ(modified.fields, contentsField);
    EXPECT_EQ(modified.baseVersion, base);
    EXPECT_EQ(modified.bytes, edit.expected);
    EXPECT_EQ(readFile(at("memo.txt")), edit.expected);
  }
}

TEST_F(DomainMountTest, RenamesAndMovesChangeNameAndParent) {
  struct Case {
    std::string from;
    std::string to;
    uint32_t fields;
  };
  for (const auto& move : std::vector<Case>{{"A/one.txt", "A/two.txt", filenameField},
                                            {"A/one.txt", "B/one.txt", parentItemIdentifierField},
                                            {"A/one.txt", "B/three.txt", filenameField | parentItemIdentifierField}}) {
    SCOPED_TRACE(move.to);
    TearDown();
    SetUp();
    auto a = extension_->addFolder(rootContainerItemIdentifier, "A");
    auto b = extension_->addFolder(rootContainerItemIdentifier, "B");
    auto file = extension_->addFile(a, "one.txt", "bytes");
    mountDrive();

    ASSERT_EQ(::rename(at(move.from).c_str(), at(move.to).c_str()), 0) << std::strerror(errno);
    ASSERT_EQ(extension_->modified().size(), 1u);
    auto modified = extension_->modified()[0];
    EXPECT_EQ(modified.identifier, file);
    EXPECT_EQ(modified.fields, move.fields);
    EXPECT_EQ(modified.filename, fs::path(move.to).filename().string());
    EXPECT_EQ(modified.parent, move.to.starts_with("A/") ? a : b);
    EXPECT_EQ(readFile(at(move.to)), "bytes");
    EXPECT_FALSE(fs::exists(at(move.from)));
  }
}

TEST_F(DomainMountTest, RemovingFilesAndFoldersDeletesThemWithTheirVersion) {
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "Old");
  auto inside = extension_->addFile(folder, "a.txt", "a");
  auto loose = extension_->addFile(rootContainerItemIdentifier, "b.txt", "b");
  mountDrive();

  EXPECT_EQ(errnoOf(::rmdir(at("Old").c_str())), ENOTEMPTY);
  EXPECT_TRUE(extension_->deleted().empty());
  const auto insideVersion = *extension_->item(inside)->itemVersion();
  ASSERT_EQ(::unlink(at("Old/a.txt").c_str()), 0);
  ASSERT_EQ(::rmdir(at("Old").c_str()), 0);
  ASSERT_EQ(::unlink(at("b.txt").c_str()), 0);
  auto deleted = extension_->deleted();
  ASSERT_EQ(deleted.size(), 3u);
  EXPECT_EQ(deleted[0].identifier, inside);
  EXPECT_EQ(deleted[0].baseVersion, insideVersion);
  EXPECT_EQ(deleted[1].identifier, folder);
  EXPECT_EQ(deleted[2].identifier, loose);
  EXPECT_TRUE(namesIn(mount_->mountPoint()).empty());
}

TEST_F(DomainMountTest, RefusedOrFailedCreatesStayVisibleWithTheirBytes) {
  struct Case {
    const char* name;
    Error error;
  };
  for (const auto& refusal : std::vector<Case>{{"excluded", FileProviderError::make(FileProviderError::excludedFromSync)},
                                               {"unreachable", FileProviderError::make(FileProviderError::serverUnreachable)}}) {
    SCOPED_TRACE(refusal.name);
    TearDown();
    SetUp();
    logs_.clear();
    extension_->refuseCreatesIn(rootContainerItemIdentifier, refusal.error);
    mountDrive();

    const std::string bytes = std::string("precious ") + refusal.name;
    writeFile(at("kept.txt"), bytes);
    ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.created().size() == 1; }));
    ASSERT_TRUE(extension_->waitUntil([&](auto&) { return logged("kept.txt"); }));
    EXPECT_EQ(readFile(at("kept.txt")), bytes);
    EXPECT_EQ(localCopiesHolding(bytes), 1u);
    EXPECT_FALSE(extension_->find(rootContainerItemIdentifier, "kept.txt").has_value());

    // Still there after the mount is gone and back.
    mount_.reset();
    mountDrive();
    EXPECT_EQ(readFile(at("kept.txt")), bytes);
  }
}

TEST_F(DomainMountTest, FailedEditKeepsTheUsersBytes) {
  auto file = extension_->addFile(rootContainerItemIdentifier, "memo.txt", "service");
  extension_->failAll(InMemoryExtension::Operation::modify, FileProviderError::make(FileProviderError::serverUnreachable));
  mountDrive();

  writeFile(at("memo.txt"), "mine");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.modified().size() == 1; }));
  ASSERT_TRUE(extension_->waitUntil([&](auto&) { return logged("memo.txt"); }));
  EXPECT_EQ(readFile(at("memo.txt")), "mine");
  EXPECT_EQ(localCopiesHolding("mine"), 1u);
  EXPECT_EQ(extension_->bytes(file), "service");

  // The next save goes through and sends the user's bytes against the same base.
  extension_->failAll(InMemoryExtension::Operation::modify, std::nullopt);
  writeFile(at("memo.txt"), "!", std::ios::app);
  ASSERT_TRUE(extension_->waitUntil([&](auto& e) { return e.bytes(file) == "mine!"; }));
  EXPECT_EQ(extension_->modified()[1].baseVersion, extension_->modified()[0].baseVersion);
}

TEST_F(DomainMountTest, AnEmptyNewFileWaitsForItsContents) {
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "F");
  mountDrive();

  writeFile(at("F/later.txt"), "");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.created().size() == 1; }));
  EXPECT_TRUE(fs::exists(at("F/later.txt")));
  EXPECT_FALSE(extension_->find(folder, "later.txt").has_value());

  writeFile(at("F/later.txt"), "now there are bytes");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.created().size() == 2; }));
  EXPECT_EQ(extension_->created()[1].bytes, "now there are bytes");
  auto made = extension_->find(folder, "later.txt");
  ASSERT_TRUE(made.has_value());
  EXPECT_EQ(extension_->bytes(*made), "now there are bytes");
}

TEST_F(DomainMountTest, ExtensionErrorsBecomeErrno) {
  struct Case {
    Error error;
    int expected;
  };
  const std::vector<Case> table = {
      {FileProviderError::make(FileProviderError::noSuchItem), ENOENT},
      {FileProviderError::make(FileProviderError::notAuthenticated), EACCES},
      {FileProviderError::make(FileProviderError::serverUnreachable), EIO},
      {FileProviderError::make(FileProviderError::filenameCollision), EEXIST},
      {FileProviderError::make(FileProviderError::deletionRejected), EPERM},
      {CocoaError::make(CocoaError::featureUnsupported), ENOTSUP},
      {FileProviderError::make(FileProviderError::cannotSynchronize), EIO},
      {CocoaError::make(CocoaError::userCancelled), EINTR},
  };
  for (size_t i = 0; i < table.size(); ++i)
    extension_->addFile(rootContainerItemIdentifier, "f" + std::to_string(i), "x");
  extension_->addFolder(rootContainerItemIdentifier, "Unlisted");
  extension_->addFolder(rootContainerItemIdentifier, "Never listed");
  auto vanishing = extension_->addFile(rootContainerItemIdentifier, "vanishing.txt", "x");
  mountDrive();

  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(table[i].error.domain + " " + std::to_string(table[i].error.code));
    extension_->failAll(InMemoryExtension::Operation::remove, table[i].error);
    EXPECT_EQ(errnoOf(::unlink(at("f" + std::to_string(i)).c_str())), table[i].expected);
    EXPECT_EQ(errnoOf(::rename(at("f" + std::to_string(i)).c_str(), at("Unlisted/moved").c_str())), 0);
    ASSERT_EQ(::rename(at("Unlisted/moved").c_str(), at("f" + std::to_string(i)).c_str()), 0);
    extension_->failAll(InMemoryExtension::Operation::modify, table[i].error);
    EXPECT_EQ(errnoOf(::rename(at("f" + std::to_string(i)).c_str(), at("renamed").c_str())), table[i].expected);
    extension_->failAll(InMemoryExtension::Operation::modify, std::nullopt);
  }
  extension_->failAll(InMemoryExtension::Operation::remove, std::nullopt);

  // A listing that fails, then an item that vanished at the service, then a folder opened for writing.
  extension_->failAll(InMemoryExtension::Operation::list, FileProviderError::make(FileProviderError::notAuthenticated));
  struct stat attributes {};
  EXPECT_EQ(errnoOf(::stat(at("Never listed/anything").c_str(), &attributes)), EACCES);
  extension_->failAll(InMemoryExtension::Operation::list, std::nullopt);
  ASSERT_EQ(::stat(at("vanishing.txt").c_str(), &attributes), 0);
  extension_->removeBehind(vanishing);
  EXPECT_EQ(errnoOf(UniqueFd(::open(at("vanishing.txt").c_str(), O_RDONLY)).valid() ? 0 : -1), ENOENT);
  EXPECT_EQ(errnoOf(UniqueFd(::open(at("Unlisted").c_str(), O_WRONLY)).valid() ? 0 : -1), EISDIR);
}

TEST_F(DomainMountTest, ExtendedAttributesAreReadableInTheUserNamespace) {
  extension_->addFile(rootContainerItemIdentifier, "tagged.txt", "x",
                      {{"com.example.tag", "red"}, {"com.example.note", std::string("a\0b", 3)}});
  mountDrive();
  const auto path = at("tagged.txt");

  char value[16];
  ASSERT_EQ(::getxattr(path.c_str(), "user.com.example.tag", value, sizeof value), 3);
  EXPECT_EQ(std::string(value, 3), "red");
  EXPECT_EQ(::getxattr(path.c_str(), "user.com.example.note", nullptr, 0), 3);
  ASSERT_EQ(::getxattr(path.c_str(), "user.com.example.note", value, sizeof value), 3);
  EXPECT_EQ(std::string(value, 3), std::string("a\0b", 3));
  EXPECT_EQ(errnoOf(static_cast<int>(::getxattr(path.c_str(), "user.com.example.tag", value, 1))), ERANGE);
  EXPECT_EQ(errnoOf(static_cast<int>(::getxattr(path.c_str(), "user.missing", value, sizeof value))), ENODATA);

  char names[128];
  const ssize_t length = ::listxattr(path.c_str(), names, sizeof names);
  ASSERT_GT(length, 0);
  std::set<std::string> listed;
  for (const char* name = names; name < names + length; name += std::strlen(name) + 1) listed.insert(name);
  EXPECT_EQ(listed, (std::set<std::string>{"user.com.example.tag", "user.com.example.note"}));
}

TEST_F(DomainMountTest, ReportedChangesShowAtOnce) {
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "Inbox");
  auto old = extension_->addFile(folder, "old.txt", "old");
  auto moving = extension_->addFile(folder, "moving.txt", "m");
  mountDrive();
  ASSERT_EQ(namesIn(at("Inbox")), (std::set<std::string>{"old.txt", "moving.txt"}));

  auto fresh = extension_->addFile(folder, "new.txt", "new");
  extension_->removeBehind(old);
  auto moved = extension_->moveBehind(moving, rootContainerItemIdentifier, "moved.txt");
  mount_->applyChanges({extension_->item(fresh), moved}, {old});

  EXPECT_EQ(namesIn(at("Inbox")), (std::set<std::string>{"new.txt"}));
  EXPECT_EQ(readFile(at("Inbox/new.txt")), "new");
  EXPECT_FALSE(fs::exists(at("Inbox/old.txt")));
  EXPECT_EQ(readFile(at("moved.txt")), "m");
  EXPECT_EQ(extension_->pagesListed(folder), 1u);
}

TEST_F(DomainMountTest, ForgottenOrSignalledContainersAreListedAfresh) {
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "Box");
  extension_->addFile(folder, "first.txt", "1");
  mountDrive();
  ASSERT_EQ(namesIn(at("Box")), (std::set<std::string>{"first.txt"}));

  extension_->addFile(folder, "second.txt", "2");
  EXPECT_EQ(namesIn(at("Box")), (std::set<std::string>{"first.txt"}));
  EXPECT_EQ(extension_->pagesListed(folder), 1u);

  mount_->forgetBelow(rootContainerItemIdentifier);
  EXPECT_EQ(namesIn(at("Box")), (std::set<std::string>{"first.txt", "second.txt"}));
  EXPECT_EQ(extension_->pagesListed(folder), 2u);

  extension_->addFile(folder, "third.txt", "3");
  mount_->containerSignalled(folder);
  EXPECT_EQ(namesIn(at("Box")), (std::set<std::string>{"first.txt", "second.txt", "third.txt"}));
  EXPECT_EQ(extension_->pagesListed(folder), 3u);
}

TEST_F(DomainMountTest, SizesAreThoseOfTheBytesOnceTheyAreHere) {
  const std::string bytes(1000, 'b');
  struct Case {
    int64_t claimed;
    off_t shownBefore;
  };
  // What the service claims stands until the bytes are here; a size no file
  // can have shows as 0.
  const Case cases[] = {{3, 3}, {-1, 0}, {-5, 0}, {std::numeric_limits<int64_t>::max(), 0}, {1000, 1000}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    auto file = extension_->addFile(rootContainerItemIdentifier, "f" + std::to_string(i), bytes);
    extension_->reportSize(file, cases[i].claimed);
  }
  mountDrive();
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].claimed);
    const auto path = at("f" + std::to_string(i));
    struct stat attributes {};
    ASSERT_EQ(::stat(path.c_str(), &attributes), 0) << std::strerror(errno);
    EXPECT_EQ(attributes.st_size, cases[i].shownBefore);
    EXPECT_GE(attributes.st_blocks, 0);
    // Read whole at once, as cat does right after the lookup.
    EXPECT_EQ(readFile(path), bytes);
    EXPECT_TRUE(eventually([&] { return ::stat(path.c_str(), &attributes) == 0 && attributes.st_size == 1000; }));
  }
}

}  // namespace
}  // namespace ostrel::fileprovider
