#include "platform/appkit/workspace.h"

#include <gtest/gtest.h>

#include <future>

#include <nlohmann/json.hpp>
#include <thread>

#include "platform/appkit/tests/workspace_fixture.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

const RunningApplication word{"com.microsoft.Word", "Microsoft Word", 4242, "/Applications/Microsoft Word.app"};
const std::string wordJSON =
    R"({"bundle_id":"com.microsoft.Word","name":"Microsoft Word","pid":4242,"path":"/Applications/Microsoft Word.app"})";
const std::string finderJSON = R"({"bundle_id":"com.apple.finder","name":"Finder","pid":7})";

class WorkspaceTest : public testing::WorkspaceFixture {};

TEST_F(WorkspaceTest, FrontmostApplicationIsReadFromItsFileEachTime) {
  struct Case {
    std::optional<std::string> file;
    std::optional<RunningApplication> frontmost;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt},
      {"null", std::nullopt},
      {"{not json", std::nullopt},
      {"[]", std::nullopt},
      {wordJSON, word},
      {R"({"pid":9})", RunningApplication{std::nullopt, std::nullopt, 9, std::nullopt}},
  };
  Workspace workspace;
  for (const auto& c : cases) {
    if (c.file) {
      write("frontmost.json", *c.file);
    } else {
      fs::remove(workspaceRoot() / "frontmost.json");
    }
    EXPECT_EQ(workspace.frontmostApplication(), c.frontmost) << c.file.value_or("(no file)");
  }
}

TEST_F(WorkspaceTest, RunningApplicationsAreFilteredByBundleIdentifier) {
  Workspace workspace;
  EXPECT_TRUE(workspace.runningApplications("com.microsoft.Word").empty());
  write("running.json", "[" + finderJSON + ", 5, " + wordJSON + R"(, {"bundle_id":"com.microsoft.Word","pid":5}])");
  auto running = workspace.runningApplications("com.microsoft.Word");
  ASSERT_EQ(running.size(), 2u);
  EXPECT_EQ(running[0], word);
  EXPECT_EQ(running[1].processIdentifier, 5);
  write("running.json", "{broken");
  EXPECT_TRUE(workspace.runningApplications("com.microsoft.Word").empty());
}

TEST_F(WorkspaceTest, ActivatingARunningApplicationBringsItToTheFrontAndTellsObservers) {
  Workspace workspace;
  write("running.json", "[" + finderJSON + "," + wordJSON + "]");
  write("frontmost.json", finderJSON);

  EXPECT_TRUE(workspace.activate(word, 0));
  EXPECT_EQ(workspace.frontmostApplication(), word);
  const std::string log = read("activations.jsonl");
  ASSERT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
  EXPECT_EQ(nlohmann::json::parse(log), nlohmann::json::parse(R"({"application":)" + wordJSON + "}"));

  // An instance that has quit (another process number) cannot be activated.
  RunningApplication gone = word;
  gone.processIdentifier = 1;
  write("frontmost.json", finderJSON);
  EXPECT_FALSE(workspace.activate(gone, activateIgnoringOtherApps));
  EXPECT_EQ(workspace.frontmostApplication()->bundleIdentifier, "com.apple.finder");
  EXPECT_EQ(read("activations.jsonl"), log);
}

TEST_F(WorkspaceTest, InstalledApplicationsAreFoundByBundleIdentifier) {
  Workspace workspace;
  EXPECT_EQ(workspace.urlForApplication("com.microsoft.Word"), std::nullopt);
  write("applications.json", R"([{"bundle_id":"com.apple.finder"},{"bundle_id":"com.microsoft.Word","path":"/Apps/Word.app"}])");
  EXPECT_EQ(workspace.urlForApplication("com.microsoft.Word"), fs::path("/Apps/Word.app"));
  EXPECT_EQ(workspace.urlForApplication("com.apple.finder"), std::nullopt);
}

// The single request file in open-requests/, once there is one.
std::optional<fs::path> pendingRequest(const fs::path& root) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root / "open-requests", ec)) {
    if (entry.path().extension() == ".json" && entry.path().filename().string()[0] != '.') return entry.path();
  }
  return std::nullopt;
}

TEST_F(WorkspaceTest, OpenRequestsAreAnsweredThroughFiles) {
  struct Case {
    std::string answer;
    std::optional<Error> error;
  };
  const Case cases[] = {
      {"{}", std::nullopt},
      {R"({"error":null})", std::nullopt},
      {R"({"error":"Word could not open it"})",
       Error{CocoaError::domain, 0, {{localizedDescriptionKey, "Word could not open it"}}}},
      {R"({"error":{"domain":"NSOSStatusErrorDomain","code":-10814,"description":"no application"}})",
       Error{"NSOSStatusErrorDomain", -10814, {{localizedDescriptionKey, "no application"}}}},
  };
  Workspace workspace;
  for (const auto& c : cases) {
    std::promise<std::pair<std::expected<void, Error>, std::thread::id>> done;
    workspace.openURLs({"file:///tmp/Brief.docx"}, "/Apps/Word.app", {.activates = true},
                       [&done](std::expected<void, Error> result) {
                         done.set_value({std::move(result), std::this_thread::get_id()});
                       });
    std::optional<fs::path> request;
    ASSERT_TRUE(eventually([&] { return (request = pendingRequest(workspaceRoot())).has_value(); }));
    const std::string name = request->filename().string();
    EXPECT_EQ(read("open-requests/" + name),
              R"({"activates":true,"application":"/Apps/Word.app","urls":["file:///tmp/Brief.docx"]})");

    // A half-written answer is not taken; the complete one is.
    write("open-answers/" + name, "{\"err");
    write("open-answers/" + name, c.answer);
    auto answered = done.get_future();
    ASSERT_EQ(answered.wait_for(std::chrono::seconds(5)), std::future_status::ready) << c.answer;
    auto [result, thread] = answered.get();
    EXPECT_NE(thread, std::this_thread::get_id());
    if (c.error) {
      ASSERT_FALSE(result) << c.answer;
      EXPECT_EQ(result.error(), *c.error);
    } else {
      EXPECT_TRUE(result) << c.answer;
    }
    EXPECT_TRUE(eventually([&] { return !fs::exists(*request) && !fs::exists(workspaceRoot() / "open-answers" / name); }));
  }
}

TEST_F(WorkspaceTest, UnansweredRequestsAreWithdrawnWhenTheWorkspaceEnds) {
  bool completed = false;
  std::optional<fs::path> request;
  {
    Workspace workspace;
    workspace.openURLs({"file:///tmp/a.docx"}, "/Apps/Word.app", {}, [&](std::expected<void, Error>) { completed = true; });
    ASSERT_TRUE(eventually([&] { return (request = pendingRequest(workspaceRoot())).has_value(); }));
  }
  EXPECT_FALSE(fs::exists(*request));
  EXPECT_FALSE(completed);
}

TEST_F(WorkspaceTest, AddressesGoToTheConfiguredOpener) {
  const fs::path opener = home / "opener";
  const fs::path seen = home / "seen";
  std::ofstream(opener) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << seen.string() << "'\nexit ${OPENER_STATUS:-0}\n";
  fs::permissions(opener, fs::perms::owner_all);
  ::setenv("OSTREL_URL_OPENER", opener.c_str(), 1);
  Workspace workspace;

  EXPECT_TRUE(workspace.openURL("ostrel://notify?to=a%20b"));
  std::ifstream in(seen);
  std::string address;
  std::getline(in, address);
  EXPECT_EQ(address, "ostrel://notify?to=a%20b");

  ::setenv("OPENER_STATUS", "3", 1);
  EXPECT_FALSE(workspace.openURL("ostrel://x"));
  ::setenv("OSTREL_URL_OPENER", (home / "absent").c_str(), 1);
  EXPECT_FALSE(workspace.openURL("ostrel://x"));
}

TEST(FileURLTest, PathsArePercentEncoded) {
  EXPECT_EQ(fileURLWithPath("/tmp/a b/\u00fc#1.docx"), "file:///tmp/a%20b/%C3%BC%231.docx");
  EXPECT_EQ(fileURLWithPath("rel.docx"), fileURLWithPath(fs::current_path() / "rel.docx"));
  EXPECT_EQ(fileURLWithPath("/tmp/./a/../b.docx"), "file:///tmp/b.docx");
}

}  // namespace
}  // namespace ostrel
