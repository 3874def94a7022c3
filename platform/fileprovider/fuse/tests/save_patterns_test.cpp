// How desktop programs save, seen through a real mount of an in-memory drive:
// scratch files, writes that end in a rename, opens that write nothing, and
// deleting containers whose items cannot go on their own.
#include <dirent.h>
#include <sys/stat.h>

#include "platform/fileprovider/fuse/tests/mount_fixture.h"

namespace ostrel::fileprovider {
namespace {

using namespace testing;
namespace fs = std::filesystem;

TEST_F(DomainMountTest, AFileWrittenUnderATemporaryNameIsSentOnceUnderItsFinalName) {
  for (const std::string temporary : {".report.txt.Xy12Zq", "lu8d2f1a.tmp", ".goutputstream-QX81Z0"}) {
    SCOPED_TRACE(temporary);
    TearDown();
    SetUp();
    auto folder = extension_->addFolder(rootContainerItemIdentifier, "Matter");
    mountDrive();

    writeFile(at("Matter/" + temporary), "final bytes");
    ASSERT_EQ(::rename(at("Matter/" + temporary).c_str(), at("Matter/report.txt").c_str()), 0) << std::strerror(errno);
    ASSERT_TRUE(extension_->waitUntil([](auto& e) { return !e.created().empty(); }));
    auto created = extension_->created();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].filename, "report.txt");
    EXPECT_EQ(created[0].parent, folder);
    EXPECT_EQ(created[0].bytes, "final bytes");
    EXPECT_EQ(namesIn(at("Matter")), (std::set<std::string>{"report.txt"}));
    EXPECT_EQ(readFile(at("Matter/report.txt")), "final bytes");
  }
}

TEST_F(DomainMountTest, ScratchFilesWorkLocallyAndAreNeverSent) {
  extension_->addFolder(rootContainerItemIdentifier, "Matter");
  mountDrive();

  for (const std::string scratch : {".~lock.brief.docx#", ".brief.docx.swp", "4913", "brief.docx~", "Thumbs.db"}) {
    SCOPED_TRACE(scratch);
    writeFile(at("Matter/" + scratch), "scratch " + scratch);
    EXPECT_EQ(readFile(at("Matter/" + scratch)), "scratch " + scratch);
    writeFile(at("Matter/" + scratch), " again", std::ios::app);
    EXPECT_EQ(readFile(at("Matter/" + scratch)), "scratch " + scratch + " again");
  }
  ASSERT_EQ(::mkdir(at("Matter/.Trash-1000").c_str(), 0700), 0) << std::strerror(errno);
  writeFile(at("Matter/.Trash-1000/kept.txt"), "in the trash");
  EXPECT_EQ(::unlink(at("Matter/4913").c_str()), 0);
  EXPECT_FALSE(fs::exists(at("Matter/4913")));

  // Sends go in order: once this one is there, every scratch file had its chance.
  writeFile(at("Matter/done.txt"), "done");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return !e.created().empty(); }));
  auto created = extension_->created();
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].filename, "done.txt");
  EXPECT_TRUE(extension_->modified().empty());
  EXPECT_TRUE(namesIn(at("Matter")).contains(".~lock.brief.docx#"));
  EXPECT_EQ(readFile(at("Matter/.Trash-1000/kept.txt")), "in the trash");
}

TEST_F(DomainMountTest, AFileRenamedOverAServiceFileIsASaveOfThatFile) {
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "Matter");
  auto memo = extension_->addFile(folder, "memo.txt", "original");
  const auto base = *extension_->item(memo)->itemVersion();
  mountDrive();
  ASSERT_EQ(readFile(at("Matter/memo.txt")), "original");

  writeFile(at("Matter/lu1a2b3c.tmp"), "saved by the editor");
  ASSERT_EQ(::rename(at("Matter/lu1a2b3c.tmp").c_str(), at("Matter/memo.txt").c_str()), 0) << std::strerror(errno);
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return !e.modified().empty(); })) << [&] {
    std::string all;
    for (const auto& record : logs_.records()) all += record.message + "\n";
    return all;
  }();
  auto modified = extension_->modified();
  ASSERT_EQ(modified.size(), 1u);
  EXPECT_EQ(modified[0].identifier, memo);
  EXPECT_EQ(modified[0].fields, contentsField);
  EXPECT_EQ(modified[0].baseVersion, base);
  EXPECT_EQ(modified[0].bytes, "saved by the editor");
  EXPECT_TRUE(extension_->created().empty());
  EXPECT_EQ(namesIn(at("Matter")), (std::set<std::string>{"memo.txt"}));
  EXPECT_EQ(readFile(at("Matter/memo.txt")), "saved by the editor");
}

TEST_F(DomainMountTest, OpeningForWritingWithoutWritingKeepsAndSendsNothing) {
  auto memo = extension_->addFile(rootContainerItemIdentifier, "memo.txt", "original");
  mountDrive();
  ASSERT_EQ(readFile(at("memo.txt")), "original");

  {
    UniqueFd fd(::open(at("memo.txt").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(fd.valid()) << std::strerror(errno);
  }
  {
    // What touch(1) does to a file that exists.
    UniqueFd fd(::open(at("memo.txt").c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    ASSERT_TRUE(fd.valid()) << std::strerror(errno);
    ASSERT_EQ(::futimens(fd.get(), nullptr), 0);
  }
  EXPECT_TRUE(eventually([&] { return localCopiesHolding("original") == 0; }));

  // A later revision at the service shows: nothing local pins the old bytes.
  mount_->applyChanges({extension_->replaceBytes(memo, "revised at the service")}, {});
  EXPECT_EQ(readFile(at("memo.txt")), "revised at the service");
  EXPECT_TRUE(extension_->modified().empty());
}

TEST_F(DomainMountTest, AContainerWhoseItemsCannotGoAloneIsDeletedWithThem) {
  auto document = extension_->addFolder(rootContainerItemIdentifier, "Brief.docx");
  extension_->addFile(document, "Brief (v1).docx", "one", {}, allowsReading | allowsWriting);
  extension_->addFile(document, "Brief (v2).docx", "two", {}, allowsReading | allowsWriting);
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "Notes");
  extension_->addFile(folder, "deletable.txt", "x");
  auto withScratch = extension_->addFolder(rootContainerItemIdentifier, "Memo.docx");
  extension_->addFile(withScratch, "Memo (v1).docx", "m", {}, allowsReading | allowsWriting);
  mountDrive();

  EXPECT_EQ(errnoOf(::unlink(at("Brief.docx/Brief (v1).docx").c_str())), EPERM);
  EXPECT_TRUE(extension_->deleted().empty());
  // A folder of things that can be deleted one by one must be emptied first.
  EXPECT_EQ(errnoOf(::rmdir(at("Notes").c_str())), ENOTEMPTY);
  // Bytes only this mount holds are never deleted with their container.
  writeFile(at("Memo.docx/.~lock.Memo (v1).docx#"), "lock");
  EXPECT_EQ(errnoOf(::rmdir(at("Memo.docx").c_str())), ENOTEMPTY);

  ASSERT_EQ(::rmdir(at("Brief.docx").c_str()), 0) << std::strerror(errno);
  auto deleted = extension_->deleted();
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].identifier, document);
  EXPECT_FALSE(fs::exists(at("Brief.docx")));
  EXPECT_EQ(namesIn(at("")), (std::set<std::string>{"Memo.docx", "Notes"}));
}

TEST_F(DomainMountTest, ARecursiveDeleteTakesTheItemsWithTheirContainerOrGivesThemBack) {
  auto document = extension_->addFolder(rootContainerItemIdentifier, "Brief.docx");
  extension_->addFile(document, "Brief (v1).docx", "one", {}, allowsReading | allowsWriting);
  extension_->addFile(document, "Brief (v2).docx", "two", {}, allowsReading | allowsWriting);
  auto memo = extension_->addFolder(rootContainerItemIdentifier, "Memo.docx");
  extension_->addFile(memo, "Memo (v1).docx", "m", {}, allowsReading | allowsWriting);
  mountDrive();

  // As rm -r walks: the folder open, each item removed, then the folder.
  DIR* walk = ::opendir(at("Brief.docx").c_str());
  ASSERT_NE(walk, nullptr);
  while (::readdir(walk)) {
  }
  EXPECT_EQ(::unlink(at("Brief.docx/Brief (v1).docx").c_str()), 0) << std::strerror(errno);
  EXPECT_EQ(::unlink(at("Brief.docx/Brief (v2).docx").c_str()), 0) << std::strerror(errno);
  EXPECT_TRUE(namesIn(at("Brief.docx")).empty());
  EXPECT_TRUE(extension_->deleted().empty());
  EXPECT_EQ(::rmdir(at("Brief.docx").c_str()), 0) << std::strerror(errno);
  ::closedir(walk);
  ASSERT_EQ(extension_->deleted().size(), 1u);
  EXPECT_EQ(extension_->deleted()[0].identifier, document);

  // A walk that stops short of the container gives back what it removed.
  walk = ::opendir(at("Memo.docx").c_str());
  ASSERT_NE(walk, nullptr);
  EXPECT_EQ(::unlink(at("Memo.docx/Memo (v1).docx").c_str()), 0) << std::strerror(errno);
  ::closedir(walk);
  EXPECT_TRUE(eventually([&] { return namesIn(at("Memo.docx")).contains("Memo (v1).docx"); }));
  EXPECT_EQ(readFile(at("Memo.docx/Memo (v1).docx")), "m");
  EXPECT_EQ(extension_->deleted().size(), 1u);
}

TEST_F(DomainMountTest, ANewFileShowsAsWhatTheServiceMadeOfItWhateverArrivesFirst) {
  for (const bool changesFirst : {true, false}) {
    SCOPED_TRACE(changesFirst ? "change batch first" : "creation's answer first");
    TearDown();
    SetUp();
    auto folder = extension_->addFolder(rootContainerItemIdentifier, "Matter");
    extension_->fileNewFilesInFolders(true);
    extension_->holdCreateAnswers();
    mountDrive();

    writeFile(at("Matter/brief.txt"), "brief");
    ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.created().size() == 1; }));
    auto document = extension_->find(folder, "brief.txt");
    ASSERT_TRUE(document);
    if (changesFirst) mount_->applyChanges({extension_->item(*document)}, {});
    extension_->releaseCreateAnswers();
    if (!changesFirst) {
      ASSERT_TRUE(eventually([&] { return logged("created brief.txt"); }));
      mount_->applyChanges({extension_->item(*document)}, {});
    }
    EXPECT_TRUE(eventually([&] { return fs::is_directory(at("Matter/brief.txt")); }));
    EXPECT_EQ(namesIn(at("Matter")), (std::set<std::string>{"brief.txt"}));
    EXPECT_EQ(readFile(at("Matter/brief.txt/brief.txt")), "brief");
  }
}

TEST_F(DomainMountTest, AnItemListedInTwoContainersShowsInEach) {
  auto mine = extension_->addFolder(rootContainerItemIdentifier, "My matters");
  auto all = extension_->addFolder(rootContainerItemIdentifier, "All matters");
  auto shared = extension_->addFolder(mine, "Harbour Lane");
  extension_->addFile(shared, "summary.txt", "summary");
  extension_->listAlsoIn(all, shared);
  mountDrive();

  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(namesIn(at("My matters")), (std::set<std::string>{"Harbour Lane"}));
    EXPECT_EQ(namesIn(at("All matters")), (std::set<std::string>{"Harbour Lane"}));
    EXPECT_EQ(readFile(at("All matters/Harbour Lane/summary.txt")), "summary");
  }
  // A change at the service shows in every place that lists the item.
  mount_->applyChanges({extension_->moveBehind(shared, mine, "Harbour Lane (closing)")}, {});
  EXPECT_EQ(namesIn(at("My matters")), (std::set<std::string>{"Harbour Lane (closing)"}));
  EXPECT_EQ(namesIn(at("All matters")), (std::set<std::string>{"Harbour Lane (closing)"}));
}

TEST_F(DomainMountTest, RefusedChangesAndLinksGiveTheirDocumentedErrors) {
  extension_->addFile(rootContainerItemIdentifier, "fixed.txt", "f", {}, allowsReading | allowsWriting);
  mountDrive();
  EXPECT_EQ(errnoOf(::rename(at("fixed.txt").c_str(), at("moved.txt").c_str())), EPERM);
  EXPECT_EQ(errnoOf(::unlink(at("fixed.txt").c_str())), EPERM);
  EXPECT_EQ(errnoOf(::symlink("fixed.txt", at("link.txt").c_str())), ENOTSUP);
  EXPECT_EQ(errnoOf(::link(at("fixed.txt").c_str(), at("hard.txt").c_str())), ENOTSUP);
  EXPECT_TRUE(extension_->modified().empty());
  EXPECT_TRUE(extension_->deleted().empty());
}

}  // namespace
}  // namespace ostrel::fileprovider
