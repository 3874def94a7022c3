// The mount changed with plain file operations.
#include <sys/stat.h>

#include "tests/e2e/mount_fixture.h"

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using nlohmann::json;
namespace fs = std::filesystem;

TEST_F(DriveMountEndToEnd, BrowsesNestedFoldersAndOpensAVersion) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(matter() / "Correspondence")) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_TRUE(names.contains("Archive"));
  EXPECT_TRUE(names.contains("Engagement letter.docx"));
  EXPECT_TRUE(fs::is_directory(matter() / "Correspondence" / "Engagement letter.docx"));

  auto version = matter() / "Matter summary.docx" / "Matter summary (v2).docx";
  auto onService = childNamed(folderOfMatter("Matter summary.docx"), "Matter summary (v2).docx");
  ASSERT_TRUE(onService);
  auto bytes = readFile(version);
  EXPECT_EQ(bytes.size(), (*onService)["size"].get<size_t>());
  EXPECT_EQ(fs::file_size(version), bytes.size());
  EXPECT_TRUE(bytes.starts_with("PK"));  // a .docx is a zip archive
  EXPECT_EQ(readFile(version), bytes);

  std::error_code error;
  fs::directory_iterator(matter() / "No such folder", error);
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

TEST_F(DriveMountEndToEnd, CreatesRenamesMovesAndDeletes) {
  auto correspondence = folderOfMatter("Correspondence");
  ASSERT_FALSE(correspondence.empty());
  ASSERT_TRUE(fs::create_directory(matter() / "Correspondence" / "Board papers"));
  auto folder = childNamed(correspondence, "Board papers");
  ASSERT_TRUE(folder) << "mkdir made no folder on the service";
  std::string folderId = (*folder)["identifier"];

  ASSERT_TRUE(writeFile(matter() / "Correspondence" / "Board papers" / "Minutes.pdf", "%PDF-1.4 minutes"));
  EXPECT_TRUE(eventually([&] { return childNamed(folderId, "Minutes.pdf").has_value(); }));

  fs::rename(matter() / "Correspondence" / "Board papers", matter() / "Correspondence" / "Board minutes");
  EXPECT_TRUE(childNamed(correspondence, "Board minutes"));
  EXPECT_FALSE(childNamed(correspondence, "Board papers"));

  fs::rename(matter() / "Correspondence" / "Board minutes", matter() / "Due diligence" / "Board minutes");
  EXPECT_TRUE(childNamed(folderOfMatter("Due diligence"), "Board minutes"));
  EXPECT_FALSE(childNamed(correspondence, "Board minutes"));
  EXPECT_TRUE(fs::exists(matter() / "Due diligence" / "Board minutes" / "Minutes.pdf"));

  ASSERT_TRUE(fs::create_directory(matter() / "Due diligence" / "Empty"));
  ASSERT_TRUE(childNamed(folderOfMatter("Due diligence"), "Empty"));
  EXPECT_TRUE(fs::remove(matter() / "Due diligence" / "Empty"));
  EXPECT_FALSE(childNamed(folderOfMatter("Due diligence"), "Empty"));
  EXPECT_FALSE(fs::exists(matter() / "Due diligence" / "Empty"));
}

TEST_F(DriveMountEndToEnd, SavingOverAVersionMakesADraftAgainstIt) {
  auto document = folderOfMatter("Matter summary.docx");
  auto base = childNamed(document, "Matter summary (v2).docx");
  ASSERT_TRUE(base);
  std::string baseUuid = (*base)["identifier"].get<std::string>().substr(std::string("ver:").size());
  auto version = matter() / "Matter summary.docx" / "Matter summary (v2).docx";
  const std::string original = readFile(version);

  ASSERT_TRUE(writeFile(version, "PK edited summary"));
  std::optional<json> draft;
  EXPECT_TRUE(eventually([&] {
    auto drafts = childNamed(document, "Drafts");
    if (!drafts) return false;
    auto items = children((*drafts)["identifier"]);
    if (items.empty()) return false;
    draft = items[0];
    return true;
  }));
  ASSERT_TRUE(draft);
  EXPECT_TRUE((*draft)["content_version"].get<std::string>().starts_with(baseUuid)) << *draft;
  EXPECT_EQ((*draft)["size"], std::string("PK edited summary").size());
  // The partner's bytes show in the mount as the draft; the version stays as the service keeps it.
  auto draftFile = matter() / "Matter summary.docx" / "Drafts" / (*draft)["filename"].get<std::string>();
  EXPECT_TRUE(eventually([&] { return fs::exists(draftFile) && readFile(draftFile) == "PK edited summary"; }));
  EXPECT_TRUE(eventually([&] { return readFile(version) == original; }));
}

TEST_F(DriveMountEndToEnd, ARefusedCreateStaysLocalAndVisible) {
  ASSERT_EQ(service.admin("POST", "/admin/faults", R"({"method":"POST","path_prefix":"/api/drive/uploads","status":403,"count":100})").status,
            201);
  auto file = matter() / "Correspondence" / "Refused.pdf";
  ASSERT_TRUE(writeFile(file, "%PDF-1.4 keep me"));
  auto logFile = drive.home() / "Logs" / "local.ostrel.fileproviderd.log";
  EXPECT_TRUE(eventually([&] { return readFile(logFile).find("Refused.pdf") != std::string::npos; }));
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(readFile(file), "%PDF-1.4 keep me");
  EXPECT_FALSE(childNamed(folderOfMatter("Correspondence"), "Refused.pdf"));
}

TEST_F(DriveMountEndToEnd, ChangesOnTheServiceAppearAfterASignal) {
  auto folder = matter() / "Correspondence";
  ASSERT_FALSE(fs::exists(folder / "From the web"));  // the listing is now kept
  auto created = service.api("POST", "/api/drive/items",
                             json{{"parent", folderOfMatter("Correspondence")},
                                  {"filename", "From the web"},
                                  {"kind", "container"}}
                                 .dump());
  ASSERT_EQ(created.status, 201) << created.body;
  ASSERT_TRUE(drive.send({{"type", "signal"}}));
  EXPECT_TRUE(eventually([&] { return fs::exists(folder / "From the web"); }));
}

TEST_F(DriveMountEndToEnd, TheDriveWorksAgainAfterTheDaemonRestarts) {
  EXPECT_EQ(drive.stopDaemon(), 0);
  EXPECT_FALSE(fs::exists(matter()));
  ASSERT_TRUE(drive.startDaemon());
  ASSERT_TRUE(drive.waitForMount());
  ASSERT_TRUE(drive.nextEvent("attached", 20s));
  auto version = matter() / "Matter summary.docx" / "Matter summary (v1).docx";
  EXPECT_TRUE(readFile(version).starts_with("PK"));
}

bool mounted(const fs::path& path) {
  struct stat self {}, parent {};
  return ::stat(path.c_str(), &self) == 0 && ::stat(path.parent_path().c_str(), &parent) == 0 &&
         self.st_dev != parent.st_dev;
}

TEST_F(DriveMountEndToEnd, DrivesNamedAlikeEachHaveAMountAndComeAndGoInAnyOrder) {
  const auto root = drive.mount().parent_path();
  for (const auto* identifier : {"dup1", "dup2"})
    ASSERT_EQ(drive.helper({"register", identifier, "Dup Name", service.base()}).status, 0);
  EXPECT_TRUE(eventually([&] { return mounted(root / "Dup Name") && mounted(root / "Dup Name (2)"); }));

  ASSERT_EQ(drive.helper({"remove", "dup1"}).status, 0);
  EXPECT_TRUE(eventually([&] { return !mounted(root / "Dup Name") && mounted(root / "Dup Name (2)"); }));
  ASSERT_EQ(drive.helper({"register", "after", "After Drive", service.base()}).status, 0);
  EXPECT_TRUE(eventually([&] { return mounted(root / "After Drive"); }));
  // A name longer than a file name may be is shortened, not refused.
  ASSERT_EQ(drive.helper({"register", "long", std::string(300, 'L'), service.base()}).status, 0);
  EXPECT_TRUE(eventually([&] { return mounted(root / std::string(240, 'L')); }));

  EXPECT_EQ(drive.stopDaemon(), 0);
  for (const auto& name : {"Dup Name (2)", "After Drive", "Demo Drive"}) EXPECT_FALSE(mounted(root / name)) << name;
  EXPECT_FALSE(mounted(root / std::string(240, 'L')));
}

}  // namespace
}  // namespace ostrel
