#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/services/desktop_entry_linux.h"
#include "platform/services/services.h"
#include "platform/services/services_request_linux.h"

namespace ostrel::services_linux {
namespace {

TEST(ServicesRequest, ReadFromTheCommandLine) {
  struct Case {
    std::vector<std::string> arguments;
    std::optional<std::string> message;
    std::string userData;
  };
  const std::vector<Case> cases = {
      {{}, std::nullopt, ""},
      {{"--service"}, std::nullopt, ""},
      {{"--service", ""}, std::nullopt, ""},
      {{"--service", "saveAsNew"}, "saveAsNew", ""},
      {{"-psn_0_1", "--service", "saveVersion", "--user-data", "x y"}, "saveVersion", "x y"},
      {{"--user-data", "u", "--service", "openFromOstrel"}, "openFromOstrel", "u"},
      {{"--service", "saveAsNew", "--user-data"}, std::nullopt, ""},
      {{"saveAsNew"}, std::nullopt, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const auto request = requestFromArguments(c.arguments);
    ASSERT_EQ(request.has_value(), c.message.has_value());
    if (!request) continue;
    EXPECT_EQ(request->message, *c.message);
    EXPECT_EQ(request->userData, c.userData);
  }
}

TEST(DesktopEntry, ExecArgumentsAreQuotedAndEscaped) {
  struct Case {
    std::string argument;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"/opt/Ostrel Word.app/x", R"("/opt/Ostrel Word.app/x")"},
      {R"(a"b)", R"("a\\"b")"},
      {"a$b`c", R"("a\\$b\\`c")"},
      {R"(a\b)", R"("a\\\\b")"},
      {"50%", R"("50%%")"},
  };
  for (const auto& c : cases) EXPECT_EQ(execArgument(c.argument), c.written) << c.argument;
}

TEST(DesktopEntry, OneActionPerServicesEntry) {
  const std::string text = desktopEntryText({.name = "Word\nActions",
                                             .command = {"/b/W"},
                                             .actions = {{"saveAsNew", "Save as New", {"/b/W", "--service", "saveAsNew"}},
                                                         {"saveVersion", "Save Version", {"/b/W", "--service", "saveVersion"}}}});
  EXPECT_EQ(text,
            "[Desktop Entry]\nType=Application\nVersion=1.5\nName=Word\\nActions\nNoDisplay=true\nExec=\"/b/W\"\n"
            "Actions=saveAsNew;saveVersion;\n"
            "\n[Desktop Action saveAsNew]\nName=Save as New\nExec=\"/b/W\" \"--service\" \"saveAsNew\"\n"
            "\n[Desktop Action saveVersion]\nName=Save Version\nExec=\"/b/W\" \"--service\" \"saveVersion\"\n");
}

TEST(DesktopEntry, PathFollowsXdgDataHome) {
  ::setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(desktopEntryPath("local.ostrel.x"), "/data/applications/local.ostrel.x.desktop");
  // A relative value is to be ignored.
  ::setenv("XDG_DATA_HOME", "data", 1);
  ::setenv("HOME", "/home/p", 1);
  EXPECT_EQ(desktopEntryPath("a"), "/home/p/.local/share/applications/a.desktop");
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(desktopEntryPath("a"), "/home/p/.local/share/applications/a.desktop");
}

TEST(ServicesProvider, FindsEntriesByMessage) {
  ServicesProvider provider;
  int called = 0;
  provider.addMethod("saveAsNew", "Save as New", [&](const Pasteboard&, const std::string&, std::optional<std::string>&) {
    ++called;
  });
  EXPECT_EQ(provider.entry("saveAsNew:userData:error:"), nullptr);
  ASSERT_NE(provider.entry("saveAsNew"), nullptr);
  std::optional<std::string> error;
  provider.entry("saveAsNew")->method({}, "", error);
  EXPECT_EQ(called, 1);
}

}  // namespace
}  // namespace ostrel::services_linux
