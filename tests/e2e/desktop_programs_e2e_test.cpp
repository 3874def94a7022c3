// The mount driven by the programs people use on a Linux desktop (rsync, cp,
// mv, rm, touch, vim, LibreOffice), checked against what reached the service.
#include <dirent.h>

#include "tests/e2e/mount_fixture.h"

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using nlohmann::json;
namespace fs = std::filesystem;

std::set<std::string> namesIn(const fs::path& directory) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) names.insert(entry.path().filename().string());
  return names;
}

bool makeTree(const fs::path& root, const std::map<std::string, std::string>& files) {
  for (const auto& [relative, bytes] : files) {
    fs::create_directories((root / relative).parent_path());
    std::ofstream(root / relative, std::ios::binary) << bytes;
  }
  return true;
}

class DesktopPrograms : public DriveMountEndToEnd {
 protected:
  // What a document at the service holds: its newest version's bytes.
  std::optional<std::string> documentBytes(const std::string& folder, const std::string& name) const {
    auto document = childNamed(folder, name);
    if (!document || (*document)["kind"] != "container") return std::nullopt;
    auto versions = children((*document)["identifier"]);
    if (versions.empty()) return std::nullopt;
    return serviceBytes(versions[0]["identifier"]);
  }
  int creates() const { return requestsTo("POST", "/api/drive/items"); }
  int uploadSlots() const { return requestsTo("POST", "/api/drive/uploads"); }

  fs::path scratch() const { return drive.home() / "outside"; }
};

TEST_F(DesktopPrograms, RsyncOfATreeMakesEveryFileADocument) {
  const std::map<std::string, std::string> files = {
      {"Letter.txt", "Dear client,\nplease find enclosed.\n"},
      {"Scan.pdf", "%PDF-1.4 a scanned page"},
      {"Notes/Call.md", "# Call with the vendor\n"},
  };
  ASSERT_TRUE(makeTree(scratch() / "tree", files));
  const auto correspondence = folderOfMatter("Correspondence");
  clearRequests();

  auto ran = run("rsync", {"-a", (scratch() / "tree").string() + "/", (matter() / "Correspondence" / "Rsynced").string()});
  ASSERT_EQ(ran.status, 0) << ran.errors;

  auto folder = childNamed(correspondence, "Rsynced");
  ASSERT_TRUE(folder);
  auto notes = childNamed((*folder)["identifier"], "Notes");
  ASSERT_TRUE(notes);
  EXPECT_TRUE(eventually([&] { return uploadSlots() == 3 && creates() == 5; }))
      << uploadSlots() << " upload slots, " << creates() << " creations";
  // One slot and one creation a file, one creation a folder: no temporary name went out.
  EXPECT_EQ(uploadSlots(), 3);
  EXPECT_EQ(creates(), 5);
  EXPECT_EQ(documentBytes((*folder)["identifier"], "Letter.txt"), files.at("Letter.txt"));
  EXPECT_EQ(documentBytes((*folder)["identifier"], "Scan.pdf"), files.at("Scan.pdf"));
  EXPECT_EQ(documentBytes((*notes)["identifier"], "Call.md"), files.at("Notes/Call.md"));
  EXPECT_EQ(children((*folder)["identifier"]).size(), 3u);
  // The mount shows what the service made of them: documents.
  EXPECT_TRUE(eventually([&] { return fs::is_directory(matter() / "Correspondence" / "Rsynced" / "Letter.txt"); }));
}

TEST_F(DesktopPrograms, CopyThenMoveAtOnceEndsAsTheServicesDocument) {
  ASSERT_TRUE(makeTree(scratch() / "Bundle", {{"Brief.txt", "brief"}, {"Memo.txt", "memo"}}));
  const auto target = matter() / "Correspondence" / "Bundle";
  auto copied = run("cp", {"-r", (scratch() / "Bundle").string(), target.string()});
  ASSERT_EQ(copied.status, 0) << copied.errors;
  ASSERT_EQ(::rename((target / "Brief.txt").c_str(), (target / "Brief final.txt").c_str()), 0) << std::strerror(errno);

  auto folder = childNamed(folderOfMatter("Correspondence"), "Bundle");
  ASSERT_TRUE(folder);
  const std::string folderId = (*folder)["identifier"];
  EXPECT_TRUE(eventually([&] { return childNamed(folderId, "Brief final.txt") && childNamed(folderId, "Memo.txt"); }));
  EXPECT_FALSE(childNamed(folderId, "Brief.txt"));
  EXPECT_EQ(documentBytes(folderId, "Brief final.txt"), "brief");
  EXPECT_TRUE(eventually([&] {
    return fs::is_directory(target / "Brief final.txt") && fs::is_directory(target / "Memo.txt") &&
           !fs::exists(target / "Brief.txt");
  }));
  // And it can be moved on, as the document it now is.
  ASSERT_EQ(::rename((target / "Memo.txt").c_str(), (target / "Memo final.txt").c_str()), 0) << std::strerror(errno);
  EXPECT_TRUE(childNamed(folderId, "Memo final.txt"));
}

TEST_F(DesktopPrograms, VimEditingAVersionSavesOneDraftAgainstIt) {
  const auto diligence = folderOfMatter("Due diligence");
  auto document = childNamed(diligence, "Data room index.txt");
  ASSERT_TRUE(document);
  auto version = children((*document)["identifier"])[0];
  const std::string versionId = version["identifier"];
  const auto original = serviceBytes(versionId);
  ASSERT_TRUE(original);
  const auto file = matter() / "Due diligence" / "Data room index.txt" / version["filename"].get<std::string>();
  ASSERT_EQ(readFile(file), *original);
  clearRequests();

  auto ran = run("vim", {"-u", "NONE", "-i", "NONE", "-N", "-Es", "-c", "%s/Corporate/Corporate and tax/", "-c", "wq",
                         file.string()});
  ASSERT_EQ(ran.status, 0) << ran.errors;

  std::optional<json> draft;
  EXPECT_TRUE(eventually([&] {
    auto drafts = childNamed((*document)["identifier"], "Drafts");
    if (!drafts) return false;
    auto items = children((*drafts)["identifier"]);
    if (items.empty()) return false;
    draft = items[0];
    return true;
  }));
  ASSERT_TRUE(draft);
  const std::string baseUuid = versionId.substr(std::string("ver:").size());
  EXPECT_TRUE((*draft)["content_version"].get<std::string>().starts_with(baseUuid)) << *draft;
  auto saved = serviceBytes((*draft)["identifier"]);
  ASSERT_TRUE(saved);
  EXPECT_NE(saved->find("Corporate and tax"), std::string::npos) << *saved;
  EXPECT_EQ(requests("PUT", "/draft"), 1);
  EXPECT_EQ(uploadSlots(), 1);  // the swap and backup files never went out
  EXPECT_EQ(creates(), 0);
  EXPECT_EQ(serviceBytes(versionId), original);
  EXPECT_TRUE(eventually([&] { return readFile(file) == *original; }));
  EXPECT_EQ(namesIn(file.parent_path()).count(".Data room index (v1).txt.swp"), 0u);
}

TEST_F(DesktopPrograms, LibreOfficeSavesADraftThatShowsInTheOpenDraftsFolder) {
  if (::access("/usr/bin/soffice", X_OK) != 0) GTEST_SKIP() << "LibreOffice is not installed (scripts/setup)";
  const auto correspondence = folderOfMatter("Correspondence");
  auto document = childNamed(correspondence, "Engagement letter.docx");
  ASSERT_TRUE(document);
  const std::string documentId = (*document)["identifier"];
  auto newest = children(documentId)[0];
  const std::string baseUuid = newest["identifier"].get<std::string>().substr(std::string("ver:").size());
  auto draftsItem = childNamed(documentId, "Drafts");
  ASSERT_TRUE(draftsItem);
  const auto documentDir = matter() / "Correspondence" / "Engagement letter.docx";
  const auto draftsDir = documentDir / "Drafts";
  const auto draftsBefore = namesIn(draftsDir);
  ASSERT_EQ(draftsBefore.size(), 1u);
  // A shell or file manager sitting in the Drafts folder.
  DIR* open = ::opendir(draftsDir.c_str());
  ASSERT_NE(open, nullptr);
  clearRequests();

  // Ctrl+S twice: the second save must not find the file changed by someone else.
  auto ran = run("/usr/bin/python3", {OSTREL_E2E_DIR "/libreoffice_save.py",
                                      (documentDir / newest["filename"].get<std::string>()).string(),
                                      "Scope confirmed by the partner.", "2"},
                 90s);
  ASSERT_EQ(ran.status, 0) << ran.errors;

  // Each save is a draft against the version; a save the next one replaced
  // before it went out is not sent on its own.
  std::vector<json> drafts;
  EXPECT_TRUE(eventually([&] {
    drafts = children((*draftsItem)["identifier"]);
    return drafts.size() > draftsBefore.size() && requests("PUT", "/draft") == uploadSlots();
  }));
  ASSERT_GT(drafts.size(), draftsBefore.size());
  const int saves = requests("PUT", "/draft");
  EXPECT_TRUE(saves == 1 || saves == 2) << saves;
  EXPECT_EQ(drafts.size(), draftsBefore.size() + saves);
  const json& saved = drafts[0];  // newest first
  EXPECT_TRUE(saved["content_version"].get<std::string>().starts_with(baseUuid)) << saved;
  EXPECT_EQ(uploadSlots(), saves);  // no lock or temporary file went out
  EXPECT_EQ(creates(), 0);
  // The mount lists it in the folder that was open all along, without a signal.
  EXPECT_TRUE(eventually([&] { return namesIn(draftsDir).contains(saved["filename"].get<std::string>()); }, 3s));
  ::closedir(open);
  EXPECT_EQ(namesIn(documentDir).count(".~lock." + newest["filename"].get<std::string>() + "#"), 0u);
}

TEST_F(DesktopPrograms, RemovingADocumentWithRmDeletesItOnce) {
  // Versions, a Drafts and a Saves folder: none of them can be deleted on its own.
  const auto path = matter() / "Correspondence" / "Engagement letter.docx";
  EXPECT_EQ(namesIn(path).size(), 5u);
  const auto correspondence = folderOfMatter("Correspondence");
  ASSERT_TRUE(childNamed(correspondence, "Engagement letter.docx"));
  clearRequests();

  auto ran = run("rm", {"-r", path.string()});
  EXPECT_EQ(ran.status, 0) << ran.errors;
  EXPECT_EQ(requests("DELETE", "/api/drive/items/"), 1);
  EXPECT_EQ(requests("DELETE", "/api/drive/items/doc"), 1);
  EXPECT_FALSE(childNamed(correspondence, "Engagement letter.docx"));
  EXPECT_FALSE(fs::exists(path));

  // A version alone is never deleted, nor are a document's drafts.
  const auto document = matter() / "Due diligence" / "Data room index.txt";
  const auto version = document / "Data room index (v1).txt";
  auto refused = run("rm", {version.string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.errors.find("Operation not permitted"), std::string::npos) << refused.errors;
  EXPECT_TRUE(fs::exists(version));
  EXPECT_EQ(requests("DELETE", "/api/drive/items/"), 1);
}

TEST_F(DesktopPrograms, RemovingAFolderOfDocumentsWithRmDeletesEachAndTheFolder) {
  ASSERT_TRUE(makeTree(scratch() / "Old", {{"One.txt", "one"}, {"Two.txt", "two"}}));
  const auto target = matter() / "Correspondence" / "Old";
  ASSERT_EQ(run("cp", {"-r", (scratch() / "Old").string(), target.string()}).status, 0);
  auto folder = childNamed(folderOfMatter("Correspondence"), "Old");
  ASSERT_TRUE(folder);
  ASSERT_TRUE(eventually([&] { return children((*folder)["identifier"]).size() == 2; }));
  ASSERT_TRUE(eventually([&] { return fs::is_directory(target / "One.txt") && fs::is_directory(target / "Two.txt"); }));
  clearRequests();

  auto ran = run("rm", {"-r", target.string()});
  EXPECT_EQ(ran.status, 0) << ran.errors;
  EXPECT_EQ(requests("DELETE", "/api/drive/items/doc"), 2);
  EXPECT_EQ(requests("DELETE", "/api/drive/items/folder"), 1);
  EXPECT_FALSE(childNamed(folderOfMatter("Correspondence"), "Old"));
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(DesktopPrograms, TouchingAVersionSendsAndKeepsNothing) {
  const auto version = matter() / "Matter summary.docx" / "Matter summary (v1).docx";
  const auto before = readFile(version);
  clearRequests();
  auto ran = run("touch", {version.string()});
  EXPECT_EQ(ran.status, 0) << ran.errors;
  EXPECT_EQ(uploadSlots(), 0);
  EXPECT_EQ(requests("PUT", "/draft"), 0);
  EXPECT_EQ(readFile(version), before);
  EXPECT_TRUE(namesIn(drive.home() / "FileProvider" / "Domains" / "demo" / "local").empty());
}

TEST_F(DesktopPrograms, AMatterInBothTopLevelListsStaysInBoth) {
  const auto mine = drive.mount() / "My matters";
  const auto all = drive.mount() / "All matters";
  for (int round = 0; round < 2; ++round) {
    EXPECT_TRUE(namesIn(mine).contains("Harbour Lane acquisition"));
    EXPECT_TRUE(namesIn(all).contains("Harbour Lane acquisition"));
    EXPECT_TRUE(namesIn(all).contains("Northgate lease renewal"));
    EXPECT_TRUE(fs::is_directory(all / "Harbour Lane acquisition" / "Correspondence"));
    EXPECT_TRUE(fs::is_directory(mine / "Harbour Lane acquisition" / "Correspondence"));
  }
}

}  // namespace
}  // namespace ostrel
