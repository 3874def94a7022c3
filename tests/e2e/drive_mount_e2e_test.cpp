// The drive as the user sees it: the daemon's FUSE mount of a domain, served
// by the real extension against the reference service, changed with plain
// file operations.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/e2e/drive_stack.h"

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::DriveStack;
using testing::ReferenceService;
namespace fs = std::filesystem;

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Writes through one open file: the close is what sends it.
bool writeFile(const fs::path& file, const std::string& bytes) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && written;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s) {
  for (auto deadline = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(20ms)) {
    if (condition()) return true;
  }
  return condition();
}

class DriveMountEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/fuse here";
    ASSERT_TRUE(service.running());
    ASSERT_TRUE(drive.startDaemon());
    ASSERT_TRUE(drive.registerDemo());
    ASSERT_TRUE(drive.waitForMount());
    ASSERT_TRUE(drive.startServe());
    ASSERT_TRUE(drive.nextEvent("attached"));
    ASSERT_TRUE(drive.sendToken());
    ASSERT_TRUE(drive.nextEvent("signalled"));
    // The token lets the daemon take its working-set anchor, and then forget
    // the listings it kept without one; the tests start after that.
    ASSERT_TRUE(eventually([&] { return drive.authorizedRequests("changes?anchor=") > 0; }));
  }


  fs::path matter() const { return drive.mount() / "My matters" / "Harbour Lane acquisition"; }

  // The service's own view: the items of a container.
  json children(const std::string& container) const {
    auto answer = service.api("GET", "/api/drive/containers/" + container + "/items?limit=500");
    auto body = json::parse(answer.body, nullptr, false);
    return body.is_object() ? body["items"] : json::array();
  }
  std::optional<json> childNamed(const std::string& container, const std::string& name) const {
    for (const auto& item : children(container)) {
      if (item.value("filename", "") == name) return item;
    }
    return std::nullopt;
  }
  // The identifier of a folder of the Harbour Lane matter.
  std::string folderOfMatter(const std::string& name) const {
    auto matterItem = childNamed("my-matters", "Harbour Lane acquisition");
    if (!matterItem) return {};
    auto folder = childNamed((*matterItem)["identifier"], name);
    return folder ? (*folder)["identifier"].get<std::string>() : std::string();
  }

  ReferenceService service;
  DriveStack drive{service, true};
};

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

}  // namespace
}  // namespace ostrel
