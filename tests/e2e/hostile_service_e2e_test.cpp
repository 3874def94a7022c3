// The real daemon and mount against a service that answers what no sound
// service would: the daemon stays up, nothing the partner wrote is lost.
#include <sys/stat.h>

#include "tests/e2e/mount_fixture.h"

namespace ostrel::testing {
namespace {

class HostileServiceEndToEnd : public DriveMountEndToEnd {
 protected:
  json payload(const std::string& identifier) const {
    return json::parse(service.api("GET", "/api/drive/items/" + identifier).body, nullptr, false);
  }
  std::string headAnchor() const {
    auto head = json::parse(service.api("GET", "/api/drive/changes/head").body, nullptr, false);
    return head.is_object() ? head.value("anchor", "") : "";
  }
  // One fault rule: the next `count` requests to the path get this answer.
  void answer(const std::string& method, const std::string& path, int status, const json& body, int count = 1) const {
    auto rule = json{{"method", method}, {"path_prefix", path}, {"status", status}, {"body", body.dump()},
                     {"count", count}};
    ASSERT_EQ(service.admin("POST", "/admin/faults", rule.dump()).status, 201);
  }
  void clearFaults() const { service.admin("DELETE", "/admin/faults"); }
  std::string daemonLog() const { return readFile(drive.home() / "Logs" / "local.ostrel.fileproviderd.log"); }
  bool logged(const std::string& fragment, std::chrono::milliseconds timeout = 15s) const {
    return eventually([&] { return daemonLog().find(fragment) != std::string::npos; }, timeout);
  }
  // The daemon still serves the drive.
  bool driveWorks() const {
    return fs::exists(matter() / "Matter summary.docx") &&
           readFile(matter() / "Matter summary.docx" / "Matter summary (v1).docx").starts_with("PK");
  }
  // The drafts of a document of the Harbour Lane matter, as the service keeps them.
  json drafts(const std::string& document) const {
    auto container = childNamed(folderOfMatter(document), "Drafts");
    return container ? children((*container)["identifier"]) : json::array();
  }
  // The drafts once there are any, for what the daemon sends by itself (bounded).
  json draftsOnceThere(const std::string& document) const {
    json found;
    eventually([&] {
      found = drafts(document);
      return !found.empty();
    }, 40s);
    return found;
  }
};

TEST_F(HostileServiceEndToEnd, ChangesThatLoopAFolderAreRefusedAndTheDaemonStaysUp) {
  const std::string correspondence = folderOfMatter("Correspondence");
  auto archive = childNamed(correspondence, "Archive");
  ASSERT_TRUE(archive);
  auto underChild = payload(correspondence);
  underChild["parent_identifier"] = (*archive)["identifier"];
  auto underItself = payload(correspondence);
  underItself["parent_identifier"] = correspondence;
  const std::string anchor = headAnchor();
  // A signal also has the recent folders listed afresh: each batch comes
  // late, once the folders are listed again below.
  auto batch = [&](const json& updated, const json& deleted) {
    auto rule = json{{"method", "GET"}, {"path_prefix", "/api/drive/changes"}, {"status", 200}, {"delay_ms", 1500},
                     {"body", json{{"updated", updated}, {"deleted", deleted}, {"anchor", anchor}, {"more", false}}.dump()}};
    ASSERT_EQ(service.admin("POST", "/admin/faults", rule.dump()).status, 201);
    ASSERT_TRUE(drive.send({{"type", "signal"}}));
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(run("/bin/ls", {(matter() / "Correspondence" / "Archive").string()}).status, 0);
  };

  batch({underChild, underItself}, json::array());
  EXPECT_TRUE(logged("refused moving"));
  EXPECT_TRUE(fs::exists(matter() / "Correspondence" / "Archive"));

  batch(json::array(), {correspondence});
  EXPECT_TRUE(eventually([&] { return !fs::exists(matter() / "Correspondence"); }, 5s));
  EXPECT_TRUE(driveWorks());
}

TEST_F(HostileServiceEndToEnd, ACursorThatComesBackEndsTheListingAndTheDriveGoesOn) {
  const std::string folder = folderOfMatter("Transaction documents");
  const std::string path = "/api/drive/containers/" + folder + "/items";
  for (const char* next : {"a", "b", "a"}) answer("GET", path, 200, {{"items", json::array()}, {"next_page", next}});
  clearRequests();
  auto listed = run("/bin/ls", {(matter() / "Transaction documents").string()}, 20s);
  EXPECT_NE(listed.status, 0);
  EXPECT_EQ(requests("GET", path), 3);
  EXPECT_TRUE(driveWorks());

  // Answered soundly again, it lists.
  clearFaults();
  EXPECT_EQ(run("/bin/ls", {(matter() / "Transaction documents").string()}, 20s).status, 0);
}

TEST_F(HostileServiceEndToEnd, AFeedThatAlwaysHasMoreIsAskedAtAPace) {
  answer("GET", "/api/drive/changes", 200,
         {{"updated", json::array()}, {"deleted", json::array()}, {"anchor", headAnchor()}, {"more", true}}, 100000);
  clearRequests();
  ASSERT_TRUE(drive.send({{"type", "signal"}}));
  EXPECT_TRUE(logged("slower pace"));
  std::this_thread::sleep_for(3s);
  // 20 at once, then one after 1 s and one after 2 s more.
  EXPECT_LE(requests("GET", "changes?anchor="), 24);
  clearFaults();
  EXPECT_TRUE(driveWorks());
}

TEST_F(HostileServiceEndToEnd, EveryItemOfAListingIsReachableUnderASafeDistinctName) {
  const std::string folder = folderOfMatter("Transaction documents");
  auto model = children(folder);
  ASSERT_FALSE(model.empty());
  json items = json::array();
  int next = 90000;
  for (const std::string name : {"..", ".", "", "a/b", "/etc/x", "Same.txt", "Same.txt", "Same.txt"}) {
    auto item = model[0];
    item["identifier"] = "folder:" + std::to_string(next++);
    item["filename"] = name;
    item["kind"] = "container";
    items.push_back(item);
  }
  answer("GET", "/api/drive/containers/" + folder + "/items", 200, {{"items", items}, {"next_page", nullptr}}, 3);
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(matter() / "Transaction documents"))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"_..", "_.", "_", "a\u2215b", "\u2215etc\u2215x", "Same.txt",
                                          "Same (2).txt", "Same (3).txt"}));
  EXPECT_TRUE(driveWorks());
}

TEST_F(HostileServiceEndToEnd, SizesTheServiceGotWrongAreThoseOfTheBytes) {
  const std::string document = folderOfMatter("Matter summary.docx");
  auto listing = json::parse(service.api("GET", "/api/drive/containers/" + document + "/items?limit=500").body);
  auto& versions = listing["items"];
  ASSERT_GE(versions.size(), 2u);
  versions[0]["size"] = 3;
  versions[1]["size"] = -5;
  answer("GET", "/api/drive/containers/" + document + "/items", 200, listing, 3);
  for (int i = 0; i < 2; ++i) {
    const auto file = matter() / "Matter summary.docx" / versions[i]["filename"].get<std::string>();
    struct stat attributes {};
    ASSERT_EQ(::stat(file.c_str(), &attributes), 0);
    EXPECT_EQ(readFile(file), serviceBytes(versions[i]["identifier"])) << file;
  }
}

TEST_F(HostileServiceEndToEnd, ACreationAnsweredWithTheFolderOrTheRootStaysLocal) {
  const std::string correspondence = folderOfMatter("Correspondence");
  const json answers[] = {payload(correspondence), payload("root")};
  int round = 0;
  for (const auto& item : answers) {
    SCOPED_TRACE(item.dump());
    answer("POST", "/api/drive/items", 201, {{"item", item}, {"outcome", "created"}});
    const std::string name = "Answered " + std::to_string(++round) + ".pdf";
    const auto file = matter() / "Correspondence" / name;
    ASSERT_TRUE(writeFile(file, "%PDF-1.4 mine"));
    EXPECT_TRUE(logged(name));
    EXPECT_EQ(readFile(file), "%PDF-1.4 mine");
    EXPECT_TRUE(fs::exists(matter() / "Correspondence" / "Archive"));
  }
  EXPECT_TRUE(driveWorks());
}

TEST_F(HostileServiceEndToEnd, AnEditKeptWhileTheServiceWasDownArrivesWithoutAnotherWrite) {
  answer("*", "/api/drive/uploads", 503, {{"detail", {{"code", "unavailable"}}}}, 1000);
  const auto version = matter() / "Matter summary.docx" / "Matter summary (v2).docx";
  ASSERT_TRUE(writeFile(version, "PK written offline"));
  EXPECT_TRUE(logged("sent again later"));
  EXPECT_TRUE(drafts("Matter summary.docx").empty());

  clearFaults();
  json arrived = draftsOnceThere("Matter summary.docx");
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(serviceBytes(arrived[0]["identifier"]), "PK written offline");
}

TEST_F(HostileServiceEndToEnd, AnEditTheDaemonDiedSendingArrivesWhenItStartsAgain) {
  // The upload slot is slow to come: the daemon dies while it waits.
  auto rule = json{{"method", "POST"}, {"path_prefix", "/api/drive/uploads"}, {"delay_ms", 5000}, {"count", 1}};
  ASSERT_EQ(service.admin("POST", "/admin/faults", rule.dump()).status, 201);
  const auto version = matter() / "Matter summary.docx" / "Matter summary (v2).docx";
  ASSERT_TRUE(writeFile(version, "PK sent when the daemon died"));
  ASSERT_TRUE(eventually([&] { return requests("POST", "/api/drive/uploads") > 0; }));
  drive.killDaemon();

  ASSERT_TRUE(drive.startDaemon());
  ASSERT_TRUE(drive.waitForMount());
  json arrived = draftsOnceThere("Matter summary.docx");
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_EQ(serviceBytes(arrived[0]["identifier"]), "PK sent when the daemon died");
}

}  // namespace
}  // namespace ostrel::testing
