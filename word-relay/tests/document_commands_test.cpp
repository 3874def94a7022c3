#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "word-relay/tests/relay_fixture.h"

namespace ostrel::word {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::failure;

class DocumentCommandsTest : public testing::RelayFixture {
 protected:
  void useDocument(const json& document) {
    json state = word();
    state["documents"] = {document};
    setWord(state);
  }
};

const json wordInFront = {{"bundle_id", "com.microsoft.Word"}, {"name", "Microsoft Word"}, {"pid", 100}};

TEST_F(DocumentCommandsTest, FrontmostReportsTheApplicationInFront) {
  struct Case {
    json frontmost;
    bool wordRunning;
    json expected;
  };
  const Case cases[] = {
      {nullptr, true, {{"ok", true}, {"app_id", ""}, {"app_name", ""}, {"is_word", false}, {"word_running", true}}},
      {{{"name", "No Bundle"}}, false,
       {{"ok", true}, {"app_id", ""}, {"app_name", "No Bundle"}, {"is_word", false}, {"word_running", false}}},
      {wordInFront, true,
       {{"ok", true}, {"app_id", "com.microsoft.Word"}, {"app_name", "Microsoft Word"}, {"is_word", true}, {"word_running", true}}},
  };
  for (const auto& c : cases) {
    startAfresh();
    writeWorkspace("frontmost.json", c.frontmost);
    if (!c.wordRunning) wordQuits();
    EXPECT_EQ(run({"frontmost"}), c.expected) << c.frontmost.dump();
  }
}

TEST_F(DocumentCommandsTest, ActivateBringsWordToTheFront) {
  EXPECT_EQ(run({"activate"}), json({{"ok", true}}));
  EXPECT_EQ(readWorkspace("frontmost.json")["bundle_id"], "com.microsoft.Word");
}

TEST_F(DocumentCommandsTest, ActiveDocReportsWhereTheDocumentLives) {
  struct Case {
    std::string what;
    json document;
    json expected;
  };
  const Case cases[] = {
      {"saved on disk", {{"name", "Brief.docx"}, {"full_name", "/Users/p/Brief.docx"}, {"path", "/Users/p"}, {"saved", false}},
       {{"ok", true}, {"name", "Brief.docx"}, {"path", "/Users/p/Brief.docx"}, {"saved", false}, {"has_path", true}}},
      {"old-style location",
       {{"name", "Old.doc"}, {"full_name", "Macintosh HD:Users:p:Old.doc"}, {"alias_path", "/Users/p/Old.doc"},
        {"path", "Macintosh HD:Users:p"}, {"saved", true}},
       {{"ok", true}, {"name", "Old.doc"}, {"path", "/Users/p/Old.doc"}, {"saved", true}, {"has_path", true}}},
      {"never saved", {{"name", "Document1"}, {"full_name", "Document1"}, {"path", ""}, {"saved", false}},
       {{"ok", true}, {"name", "Document1"}, {"path", ""}, {"saved", false}, {"has_path", false}}},
      {"stored online",
       {{"name", "Deal.docx"}, {"full_name", "https://d.docs.live.net/abc/Deal.docx"}, {"path", "https://d.docs.live.net/abc"}},
       failure("CLOUD_DOCUMENT", "\u201cDeal.docx\u201d is stored in OneDrive/SharePoint (https://d.docs.live.net/abc)")},
      {"online, upper case",
       {{"name", "Deal.docx"}, {"full_name", "HTTPS://x/Deal.docx"}, {"path", "HTTPS://x"}},
       failure("CLOUD_DOCUMENT", "\u201cDeal.docx\u201d is stored in OneDrive/SharePoint (HTTPS://x)")},
      {"unresolvable", {{"name", "Gone.docx"}, {"full_name", "Ejected:Gone.docx"}, {"path", "Ejected:"}},
       failure("PATH_UNRESOLVED", "Word reports a location for \u201cGone.docx\u201d that Ostrel could not read")},
      // The tab splits the name: every later field moves one place on.
      {"tab in the name", {{"name", "A\tB"}, {"full_name", "/p/A\tB"}, {"path", "/p"}, {"saved", true}},
       {{"ok", true}, {"name", "A"}, {"path", "true"}, {"saved", false}, {"has_path", false}}},
  };
  for (const auto& c : cases) {
    useDocument(c.document);
    EXPECT_EQ(run({"active-doc"}), c.expected) << c.what;
  }
  setWord({{"documents", json::array()}});
  EXPECT_EQ(run({"active-doc"}), failure("NO_DOCUMENT", "Word has no document open"));
}

TEST_F(DocumentCommandsTest, SaveSavesOnlyAChangedDocument) {
  useDocument({{"name", "Brief.docx"}, {"full_name", "/Users/p/Brief.docx"}, {"path", "/Users/p"}, {"saved", false}});
  EXPECT_EQ(run({"save"}), json({{"ok", true}, {"path", "/Users/p/Brief.docx"}, {"saved_now", true}}));
  EXPECT_EQ(scriptKindsSent(), (std::vector<std::string>{"active_doc", "save"}));
  EXPECT_EQ(word()["documents"][0]["saved"], true);

  EXPECT_EQ(run({"save"}), json({{"ok", true}, {"path", "/Users/p/Brief.docx"}, {"saved_now", false}}));
  EXPECT_EQ(scriptKindsSent(), (std::vector<std::string>{"active_doc", "save", "active_doc"}));
}

TEST_F(DocumentCommandsTest, SaveRefusesADocumentWithoutAPath) {
  const std::string neverSaved = "this document has never been saved \u2014 the partner must save it in Word first";
  for (const json& document : {json{{"name", "Document1"}, {"full_name", "Document1"}, {"path", ""}, {"saved", false}},
                               json{{"name", "Deal.docx"}, {"full_name", "https://d.docs.live.net/abc/Deal.docx"},
                                    {"path", "https://d.docs.live.net/abc"}, {"saved", false}}}) {
    useDocument(document);
    EXPECT_EQ(run({"save"}), failure("NEVER_SAVED", neverSaved)) << document["name"];
  }
  EXPECT_EQ(scriptKindsSent(), (std::vector<std::string>{"active_doc", "active_doc"}));
}

const json unsavedDocument = {{"name", "Document1"}, {"full_name", "Document1"}, {"path", ""}, {"saved", false}};
// Over after the first poll (one second, then two scripts).
const testing::Environment onePollDeadline = {{testing::deadlineHook, "1200"}};
// Long enough that the dialog's outcome, not the deadline, ends the command.
const testing::Environment ampleDeadline = {{testing::deadlineHook, "20000"}};

TEST_F(DocumentCommandsTest, PromptSaveFollowsTheSaveDialog) {
  struct Case {
    std::string what;
    json sheetCounts;
    std::optional<json> savesAs;
    testing::Environment deadline;
    json expected;
  };
  const Case cases[] = {
      {"saved in the dialog", {1, 0}, json{{"full_name", "/Users/p/Memo.docx"}, {"path", "/Users/p"}}, ampleDeadline,
       {{"ok", true}, {"path", "/Users/p/Memo.docx"}, {"saved_now", true}}},
      {"cancelled", {1, 0}, std::nullopt, ampleDeadline, failure("CANCELLED", "the partner dismissed Word's Save dialog")},
      {"never appeared", {0}, std::nullopt, onePollDeadline,
       failure("ACCESSIBILITY_DENIED", "Word's Save dialog never appeared \u2014 Ostrel may not have Accessibility access.")},
      {"still open", {1}, std::nullopt, onePollDeadline, failure("WORD_BUSY", "Word's Save dialog is still open")},
      {"saved to OneDrive", {1, 0},
       json{{"full_name", "https://d.docs.live.net/abc/Memo.docx"}, {"path", "https://d.docs.live.net/abc"}}, ampleDeadline,
       failure("CLOUD_DOCUMENT", "\u201cDocument1\u201d is stored in OneDrive/SharePoint (https://d.docs.live.net/abc)")},
  };
  for (const auto& c : cases) {
    startAfresh();
    json state = {{"documents", {unsavedDocument}}, {"sheet_counts", c.sheetCounts}};
    if (c.savesAs) state["saves_as"] = *c.savesAs;
    setWord(state);
    EXPECT_EQ(run({"prompt-save"}, c.deadline), c.expected) << c.what;
    const auto kinds = scriptKindsSent();
    ASSERT_GE(kinds.size(), 3u) << c.what;
    EXPECT_EQ(kinds[0], "keystroke") << c.what;
    EXPECT_EQ(readWorkspace("frontmost.json")["bundle_id"], "com.microsoft.Word") << c.what;
  }
}

TEST_F(DocumentCommandsTest, PromptSaveWhenTheKeystrokeFails) {
  struct Case {
    json keystrokeError;
    json expected;
  };
  const Case cases[] = {
      {{{"number", -1743}, {"message", "not allowed assistive access"}},
       failure("ACCESSIBILITY_DENIED",
               "Ostrel needs Accessibility to open Word's Save dialog. Grant it under System Settings \u2192 Privacy & "
               "Security \u2192 Accessibility.")},
      {{{"number", -1719}, {"message", "System Events got an error: not allowed."}},
       failure("SAVE_FAILED", "System Events got an error: not allowed.")},
      {{{"number", -1719}}, failure("SAVE_FAILED", "save failed")},
  };
  for (const auto& c : cases) {
    setWord({{"documents", {unsavedDocument}}, {"errors", {{"keystroke", c.keystrokeError}}}});
    EXPECT_EQ(run({"prompt-save"}, onePollDeadline), c.expected) << c.keystrokeError.dump();
  }
}

TEST_F(DocumentCommandsTest, PromptSaveGoesOnWhenTheKeystrokeDoesNotCompile) {
  setWord({{"documents", {unsavedDocument}},
           {"syntax_errors", {"keystroke"}},
           {"sheet_counts", {1, 0}},
           {"saves_as", {{"full_name", "/Users/p/Memo.docx"}, {"path", "/Users/p"}}}});
  EXPECT_EQ(run({"prompt-save"}, ampleDeadline),
            json({{"ok", true}, {"path", "/Users/p/Memo.docx"}, {"saved_now", true}}));
}

TEST_F(DocumentCommandsTest, PromptSaveEndsWithTheFirstFailingDocumentQuery) {
  setWord({{"documents", {unsavedDocument}}, {"sheet_counts", {1}}, {"errors", {{"active_doc", {{"number", -1712}}}}}});
  EXPECT_EQ(run({"prompt-save"}, ampleDeadline),
            failure("WORD_BUSY", "Word didn't respond \u2014 it may be showing a dialog. Dismiss it and try again."));
  EXPECT_EQ(scriptKindsSent(), (std::vector<std::string>{"keystroke", "sheet_count", "active_doc"}));
}

class OpenTest : public testing::RelayFixture {
 protected:
  void SetUp() override {
    RelayFixture::SetUp();
    document = root / "Brief draft.docx";
    std::ofstream(document) << "contents";
  }

  std::vector<fs::path> pendingRequests() const {
    std::vector<fs::path> requests;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(home / "Workspace" / "open-requests", ec)) {
      if (entry.path().extension() == ".json" && !entry.path().filename().string().starts_with(".")) {
        requests.push_back(entry.path());
      }
    }
    return requests;
  }
  // The request word-relay left for the workspace, once it is there.
  std::optional<fs::path> awaitRequest() const {
    for (int attempt = 0; attempt < 500; ++attempt) {
      if (auto requests = pendingRequests(); !requests.empty()) return requests.front();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }
  void answer(const fs::path& request, const json& content) const {
    writeWorkspace("open-answers/" + request.filename().string(), content);
  }

  fs::path document;
};

TEST_F(OpenTest, AMissingFileFailsBeforeWordIsLookedFor) {
  writeWorkspace("applications.json", json::array());
  const std::string missing = (root / "absent.docx").string();
  EXPECT_EQ(run({"open", "--path", missing}), failure("NO_SUCH_FILE", "no file at " + missing));
  EXPECT_EQ(run({"open", "--path", ""}), failure("NO_SUCH_FILE", "no file at "));
}

TEST_F(OpenTest, WordMustBeInstalled) {
  writeWorkspace("applications.json", json::array({{{"bundle_id", "com.apple.TextEdit"}, {"path", "/Applications/TextEdit.app"}}}));
  EXPECT_EQ(run({"open", "--path", document.string()}), failure("WORD_NOT_INSTALLED", "Microsoft Word is not installed"));
}

TEST_F(OpenTest, TheFileGoesToWordAndThePathComesBackAsPassed) {
  wordQuits();  // the workspace starts Word
  // A relative path is printed as given but opened as an absolute file address.
  const fs::path previousDirectory = fs::current_path();
  fs::current_path(root);
  testing::RunningRelay relay = start({"open", "--path", "./Brief draft.docx"});
  fs::current_path(previousDirectory);
  auto request = awaitRequest();
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(readWorkspace("open-requests/" + request->filename().string()),
            json({{"urls", {"file://" + root.string() + "/Brief%20draft.docx"}},
                  {"application", "/Applications/Microsoft Word.app"},
                  {"activates", true}}));
  answer(*request, json::object());
  EXPECT_EQ(relay.nextObject(), json({{"ok", true}, {"path", "./Brief draft.docx"}}));
  EXPECT_EQ(relay.waitForExit(), 0);
}

TEST_F(OpenTest, TheCompletionsErrorIsReported) {
  testing::RunningRelay relay = start({"open", "--path", document.string()});
  auto request = awaitRequest();
  ASSERT_TRUE(request.has_value());
  answer(*request, {{"error", {{"domain", "NSCocoaErrorDomain"}, {"code", 256}, {"description", "The application \u201cMicrosoft Word\u201d could not be launched."}}}});
  EXPECT_EQ(relay.nextObject(), failure("OPEN_FAILED", "The application \u201cMicrosoft Word\u201d could not be launched."));
  EXPECT_EQ(relay.waitForExit(), 0);
}

TEST_F(OpenTest, ACompletionThatNeverComesTimesOut) {
  EXPECT_EQ(run({"open", "--path", document.string()}, {{testing::openTimeoutHook, "1500"}}),
            failure("TIMEOUT", "Word did not open the file within 60s"));
  // The unanswered request is withdrawn.
  EXPECT_TRUE(pendingRequests().empty());
}

}  // namespace
}  // namespace ostrel::word
