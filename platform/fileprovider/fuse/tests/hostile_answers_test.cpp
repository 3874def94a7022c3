// What the mount does with answers no sound service gives: listings that
// never end, trees that loop, names no directory can hold.
#include <dirent.h>

#include "platform/fileprovider/fuse/extension_calls.h"
#include "platform/fileprovider/fuse/item_snapshot.h"
#include "platform/fileprovider/fuse/tests/mount_fixture.h"

namespace ostrel::fileprovider::testing {
namespace {

// The errno of listing the directory, 0 when it lists.
int listingErrno(const fs::path& directory) {
  DIR* stream = ::opendir(directory.c_str());
  if (!stream) return errno;
  errno = 0;
  while (::readdir(stream)) {
  }
  const int error = errno;
  ::closedir(stream);
  return error;
}

TEST_F(DomainMountTest, ListingsThatNeverEndFailAndTheRestOfTheDriveWorks) {
  struct Case {
    const char* what;
    size_t cycle;
    bool withItems;
    size_t mostPages;
  };
  const Case cases[] = {
      {"a cursor that comes back", 2, true, 3},
      {"empty pages forever", 0, false, maximumListingPages},
      {"full pages forever", 0, true, maximumListingItems / 200 + 1},
  };
  for (const auto& listing : cases) {
    SCOPED_TRACE(listing.what);
    TearDown();
    SetUp();
    auto endless = extension_->addFolder(rootContainerItemIdentifier, "Endless");
    for (int i = 0; i < 200; ++i) extension_->addFile(endless, "doc" + std::to_string(i) + ".txt", "x");
    auto sound = extension_->addFolder(rootContainerItemIdentifier, "Sound");
    extension_->addFile(sound, "memo.txt", "fine");
    extension_->setPageSize(200);
    extension_->pageEndlessly(endless, listing.cycle, listing.withItems);
    mountDrive();

    EXPECT_EQ(listingErrno(at("Endless")), EIO);
    EXPECT_LE(extension_->pagesListed(endless), listing.mostPages);
    EXPECT_EQ(namesIn(at("Sound")), (std::set<std::string>{"memo.txt"}));
    EXPECT_EQ(readFile(at("Sound/memo.txt")), "fine");
    // Asked again, it fails again: nothing half-listed was kept.
    EXPECT_EQ(listingErrno(at("Endless")), EIO);
  }
}

TEST_F(DomainMountTest, ChangesThatWouldMakeALoopAreRefused) {
  auto outer = extension_->addFolder(rootContainerItemIdentifier, "Outer");
  auto inner = extension_->addFolder(outer, "Inner");
  extension_->addFile(inner, "deep.txt", "deep");
  mountDrive();
  ASSERT_EQ(namesIn(at("Outer/Inner")), (std::set<std::string>{"deep.txt"}));

  // Outer under its own child, then under itself, then gone: the mount stays up.
  auto movedUnderChild = std::make_shared<ItemSnapshot>(ItemSnapshot::of(*extension_->item(outer)));
  movedUnderChild->parent = inner;
  auto movedUnderItself = std::make_shared<ItemSnapshot>(*movedUnderChild);
  movedUnderItself->parent = outer;
  mount_->applyChanges({movedUnderChild, movedUnderItself}, {});
  EXPECT_TRUE(logged("refused moving"));
  EXPECT_EQ(namesIn(at("Outer/Inner")), (std::set<std::string>{"deep.txt"}));
  mount_->applyChanges({}, {outer});
  EXPECT_FALSE(fs::exists(at("Outer")));
  EXPECT_TRUE(namesIn(mount_->mountPoint()).empty());
}

TEST_F(DomainMountTest, NamesNoDirectoryCanHoldAreShownSafelyAndDistinctly) {
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "F");
  const std::vector<std::pair<std::string, std::string>> named = {
      {"..", "_.."}, {".", "_."}, {"", "_"}, {"a/b", "a\u2215b"}, {"/etc/x", "\u2215etc\u2215x"},
  };
  for (const auto& [service, shown] : named) extension_->addFile(folder, service, "bytes of " + shown);
  for (int i = 0; i < 3; ++i) extension_->addFile(folder, "Same.txt", "same " + std::to_string(i));
  mountDrive();

  const auto names = namesIn(at("F"));
  EXPECT_EQ(names, (std::set<std::string>{"_..", "_.", "_", "a\u2215b", "\u2215etc\u2215x", "Same.txt",
                                          "Same (2).txt", "Same (3).txt"}));
  for (const auto& [service, shown] : named) EXPECT_EQ(readFile(at("F/" + shown)), "bytes of " + shown);
  std::set<std::string> sameBytes;
  for (const char* name : {"Same.txt", "Same (2).txt", "Same (3).txt"}) sameBytes.insert(readFile(at("F") / name));
  EXPECT_EQ(sameBytes, (std::set<std::string>{"same 0", "same 1", "same 2"}));

  // Listed afresh, every item keeps its name.
  std::map<std::string, std::string> before;
  for (const auto& name : names) before[name] = readFile(at("F") / name);
  mount_->containerSignalled(folder);
  for (const auto& [name, bytes] : before) EXPECT_EQ(readFile(at("F") / name), bytes) << name;
}

TEST_F(DomainMountTest, ADownloadThatCannotBeKeptLeavesNothingBehind) {
  auto file = extension_->addFile(rootContainerItemIdentifier, "memo.txt", "service bytes");
  mountDrive();
  // Nothing can be put where fetched contents are kept.
  fs::remove_all(storage_.contentsDirectory());
  writeFile(storage_.contentsDirectory(), "not a folder");

  EXPECT_FALSE(UniqueFd(::open(at("memo.txt").c_str(), O_RDONLY | O_CLOEXEC)).valid());
  EXPECT_EQ(extension_->fetches(file), 1u);
  EXPECT_TRUE(fs::is_empty(storage_.temporaryDirectory()));
  EXPECT_EQ(readFile(storage_.contentsDirectory()), "not a folder");
}

TEST_F(DomainMountTest, FetchedContentsOutliveForgottenListingsAndTheMountByContentVersion) {
  auto same = extension_->addFile(rootContainerItemIdentifier, "same.txt", "kept bytes");
  auto changed = extension_->addFile(rootContainerItemIdentifier, "changed.txt", "first bytes");
  mountDrive();
  ASSERT_EQ(readFile(at("same.txt")), "kept bytes");
  ASSERT_EQ(readFile(at("changed.txt")), "first bytes");

  // Everything forgotten (an expired anchor): listed again, nothing fetched again.
  mount_->forgetBelow(rootContainerItemIdentifier);
  EXPECT_EQ(readFile(at("same.txt")), "kept bytes");
  EXPECT_EQ(extension_->fetches(same), 1u);

  // The mount ends and starts again; one item got new contents meanwhile.
  mount_.reset();
  extension_->replaceBytes(changed, "second bytes");
  mountDrive();
  EXPECT_EQ(readFile(at("same.txt")), "kept bytes");
  EXPECT_EQ(readFile(at("changed.txt")), "second bytes");
  EXPECT_EQ(extension_->fetches(same), 1u);
  EXPECT_EQ(extension_->fetches(changed), 2u);
}

TEST_F(DomainMountTest, KeptContentsMakeRoomLeastRecentlyUsedFirstButNeverWhatIsOpen) {
  const std::string bytes(400, 'k');
  std::vector<ItemIdentifier> files;
  for (int i = 0; i < 4; ++i) files.push_back(extension_->addFile(rootContainerItemIdentifier, "f" + std::to_string(i), bytes));
  // Room for two files.
  mountDrive({.callTimeout = std::chrono::seconds(20), .contentsLimitBytes = 1000});
  UniqueFd open0(::open(at("f0").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(open0.valid());
  ASSERT_EQ(readFile(at("f1")), bytes);
  ASSERT_EQ(readFile(at("f2")), bytes);  // f1 goes: f0 is open
  ASSERT_EQ(readFile(at("f1")), bytes);  // f2 goes
  EXPECT_EQ(extension_->fetches(files[1]), 2u);
  ASSERT_EQ(readFile(at("f0")), bytes);
  EXPECT_EQ(extension_->fetches(files[0]), 1u);
  open0.reset();
  // Closed, f0 may go too; but it was read after f1, so f3 takes f1's room.
  ASSERT_EQ(readFile(at("f3")), bytes);
  ASSERT_EQ(readFile(at("f0")), bytes);
  EXPECT_EQ(extension_->fetches(files[0]), 1u);
  ASSERT_EQ(readFile(at("f1")), bytes);
  EXPECT_EQ(extension_->fetches(files[1]), 3u);
  size_t kept = 0;
  for (const auto& entry : fs::directory_iterator(storage_.contentsDirectory())) kept += entry.path().filename() != "index.json";
  EXPECT_LE(kept, 2u);
}

TEST_F(DomainMountTest, WhatWasListedAndReadStaysWhileTheServiceCannotBeReached) {
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "Matter");
  extension_->addFile(folder, "brief.txt", "the brief");
  mountDrive();
  ASSERT_EQ(readFile(at("Matter/brief.txt")), "the brief");

  // Everything forgotten (an expired anchor) while the service is gone.
  const Error unreachable = FileProviderError::make(FileProviderError::serverUnreachable);
  extension_->failAll(InMemoryExtension::Operation::list, unreachable);
  extension_->failAll(InMemoryExtension::Operation::fetch, unreachable);
  mount_->forgetBelow(rootContainerItemIdentifier);
  EXPECT_EQ(namesIn(at("Matter")), (std::set<std::string>{"brief.txt"}));
  EXPECT_EQ(readFile(at("Matter/brief.txt")), "the brief");
  EXPECT_TRUE(logged("what was listed before shows"));

  // A name it never held is answered at once meanwhile.
  EXPECT_EQ(errnoOf(UniqueFd(::open(at("Matter/unknown.txt").c_str(), O_RDONLY)).valid() ? 0 : -1), ENOENT);

  // Back (the working set answered): the next use lists afresh and shows what changed meanwhile.
  extension_->failAll(InMemoryExtension::Operation::list, std::nullopt);
  extension_->failAll(InMemoryExtension::Operation::fetch, std::nullopt);
  extension_->addFile(folder, "reply.txt", "the reply");
  mount_->serviceReachable();
  EXPECT_TRUE(eventually([&] { return namesIn(at("Matter")).contains("reply.txt"); }));
  EXPECT_EQ(readFile(at("Matter/reply.txt")), "the reply");
}

}  // namespace
}  // namespace ostrel::fileprovider::testing
