#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "word-relay/tests/relay_fixture.h"

namespace ostrel::word {
namespace {

using nlohmann::json;
using testing::failure;

class StampingTest : public testing::RelayFixture {
 protected:
  void SetUp() override {
    RelayFixture::SetUp();
    setWord({{"documents",
              {{{"name", "Document1"}, {"full_name", "Document1"}, {"path", ""}, {"saved", true}},
               {{"name", "Clean.docx"}, {"full_name", "/m/Clean.docx"}, {"path", "/m"}, {"saved", true},
                {"properties", {{"OstrelSessionId", "old-session"}, {"Author", "P"}}}},
               {{"name", "Dirty.docx"}, {"full_name", "Macintosh HD:m:Dirty.docx"}, {"alias_path", "/m/Dirty.docx"},
                {"path", "Macintosh HD:m"}, {"saved", false}}}}});
  }

  static std::vector<std::string> stamp(const std::string& path, const std::string& document, const std::string& version,
                                        const std::string& matter) {
    return {"set-stamp", "--path", path, "--document-id", document, "--version-id", version, "--matter-id", matter};
  }
  json properties(size_t document) const { return word()["documents"][document].value("properties", json::object()); }
};

TEST_F(StampingTest, ACleanDocumentIsStampedAndSaved) {
  auto arguments = stamp("/m/Clean.docx", "doc:1", "ver:2", "matter:3");
  arguments.insert(arguments.end(), {"--session-id", "sess:4"});
  EXPECT_EQ(run(arguments), json({{"ok", true}, {"path", "/m/Clean.docx"}, {"saved_now", true}}));
  EXPECT_EQ(properties(1), json({{"Author", "P"},
                                 {"OstrelDocumentId", "doc:1"},
                                 {"OstrelVersionId", "ver:2"},
                                 {"OstrelMatterId", "matter:3"},
                                 {"OstrelSessionId", "sess:4"}}));
  EXPECT_EQ(word()["documents"][1]["saved"], true);
}

TEST_F(StampingTest, ADocumentWithChangesIsStampedButLeftForThePartnerToSave) {
  EXPECT_EQ(run(stamp("/m/Dirty.docx", "doc:1", "ver:2", "matter:3")),
            json({{"ok", true}, {"path", "/m/Dirty.docx"}, {"saved_now", false}}));
  EXPECT_EQ(properties(2)["OstrelDocumentId"], "doc:1");
  EXPECT_EQ(word()["documents"][2]["saved"], false);
}

TEST_F(StampingTest, WithoutASessionTheSessionPropertyIsRemoved) {
  EXPECT_EQ(run(stamp("/m/Clean.docx", "doc:1", "ver:2", "matter:3"))["ok"], true);
  EXPECT_FALSE(properties(1).contains("OstrelSessionId"));
  EXPECT_EQ(properties(1)["Author"], "P");
}

TEST_F(StampingTest, APathNoDocumentHasIsNotOpenAndChangesNothing) {
  const json before = word();
  for (const std::string path : {"/m/Other.docx", "Document1", "/m/Clean.docx.bak"}) {
    EXPECT_EQ(run(stamp(path, "doc:1", "ver:2", "matter:3")), failure("NOT_OPEN", "Word does not have " + path + " open"));
  }
  EXPECT_EQ(word(), before);
}

TEST_F(StampingTest, ValuesReachWordUnchanged) {
  struct Case {
    std::string document, version, matter, session;
  };
  const Case cases[] = {
      {"say \"hi\"", "back\\slash\\", "\\\"both\"\\", "end\\"},
      // A value that reads like a marker is not filled in by a later one.
      {"\u00abversion\u00bb", "\u00absession\u00bb", "\u00abpath\u00bb", "line\nfeed"},
  };
  for (const auto& c : cases) {
    auto arguments = stamp("/m/Clean.docx", c.document, c.version, c.matter);
    arguments.insert(arguments.end(), {"--session-id", c.session});
    EXPECT_EQ(run(arguments)["ok"], true) << c.document;
    EXPECT_EQ(properties(1), json({{"Author", "P"},
                                   {"OstrelDocumentId", c.document},
                                   {"OstrelVersionId", c.version},
                                   {"OstrelMatterId", c.matter},
                                   {"OstrelSessionId", c.session}}));
  }
}

TEST_F(StampingTest, APathWithQuotesFindsItsDocument) {
  setWord({{"documents", {{{"name", "Q.docx"}, {"full_name", "/m/\"Q\" \\ draft.docx"}, {"path", "/m"}, {"saved", true}}}}});
  EXPECT_EQ(run(stamp("/m/\"Q\" \\ draft.docx", "doc:1", "ver:2", "matter:3"))["saved_now"], true);
}

TEST_F(StampingTest, FlagsAreLookedUpIndependently) {
  EXPECT_EQ(run({"set-stamp", "--path", "/m/Clean.docx", "--document-id", "--version-id", "v", "--matter-id", "m"})["ok"],
            true);
  EXPECT_EQ(properties(1)["OstrelDocumentId"], "--version-id");
  EXPECT_EQ(properties(1)["OstrelVersionId"], "v");
  EXPECT_EQ(properties(1)["OstrelMatterId"], "m");
}

}  // namespace
}  // namespace ostrel::word
