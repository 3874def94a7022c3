// Contents read once are kept by their content version: an expired anchor
// or a restart of the daemon does not fetch them again.
#include "tests/e2e/mount_fixture.h"

namespace ostrel::testing {
namespace {

class KeptContentsEndToEnd : public DriveMountEndToEnd {
 protected:
  fs::path version() const { return matter() / "Matter summary.docx" / "Matter summary (v1).docx"; }
  int downloads() const { return requests("POST", "/content-url"); }
};

TEST_F(KeptContentsEndToEnd, AnExpiredAnchorKeepsWhatWasReadAndTheServiceMayGo) {
  const std::string bytes = readFile(version());
  ASSERT_TRUE(bytes.starts_with("PK"));
  auto expired = json{{"method", "GET"}, {"path_prefix", "/api/drive/changes"}, {"status", 410},
                      {"body", R"({"detail":{"code":"anchor_expired","message":"too old"}})"}, {"count", 1}};
  ASSERT_EQ(service.admin("POST", "/admin/faults", expired.dump()).status, 201);
  ASSERT_TRUE(drive.send({{"type", "signal"}}));
  auto log = drive.home() / "Logs" / "local.ostrel.fileproviderd.log";
  ASSERT_TRUE(eventually([&] { return readFile(log).find("anchor expired") != std::string::npos; }));

  clearRequests();
  EXPECT_EQ(readFile(version()), bytes);
  EXPECT_EQ(downloads(), 0);

  // Listed again and read: with the service gone, it still reads.
  service.stop();
  EXPECT_EQ(readFile(version()), bytes);
}

TEST_F(KeptContentsEndToEnd, ADaemonStartedAgainUsesWhatItReadBefore) {
  const std::string bytes = readFile(version());
  ASSERT_TRUE(bytes.starts_with("PK"));
  ASSERT_EQ(drive.stopDaemon(), 0);
  ASSERT_TRUE(drive.startDaemon());
  ASSERT_TRUE(drive.waitForMount());
  // Listed once the helper handed the new daemon a token again.
  ASSERT_TRUE(eventually([&] {
    std::error_code notYet;
    return fs::exists(version(), notYet);
  }, 20s));
  clearRequests();
  EXPECT_EQ(readFile(version()), bytes);
  EXPECT_EQ(downloads(), 0);
}

}  // namespace
}  // namespace ostrel::testing
