// The drive helper, the file provider daemon and the drive extension as real
// processes against the reference service.
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/drive_stack.h"

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::DriveStack;
using testing::ReferenceService;

class DriveHelperEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service.running());
    ASSERT_TRUE(drive.startDaemon());
    ASSERT_TRUE(drive.registerDemo());
  }

  bool waitForAuthorizedRequest(const std::string& containing) const {
    for (int i = 0; i < 1000; ++i) {
      if (drive.authorizedRequests(containing) > 0) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  ReferenceService service;
  DriveStack drive{service, false};
};

TEST_F(DriveHelperEndToEnd, ATokenFromTheDesktopReachesTheExtensionWhichThenReadsTheService) {
  ASSERT_TRUE(drive.startServe());
  auto status = drive.nextEvent("status");
  ASSERT_TRUE(status);
  EXPECT_EQ((*status)["user_enabled"], true);
  EXPECT_EQ((*status)["disconnected"], false);
  ASSERT_TRUE(drive.nextEvent("attached"));

  ASSERT_EQ(service.admin("DELETE", "/admin/requests").status, 204);
  drive.send({{"type", "signal"}});
  ASSERT_TRUE(drive.nextEvent("signalled"));
  // The working set needs the service, and the extension has no token yet.
  ASSERT_TRUE(drive.nextEvent("need_token"));
  EXPECT_EQ(drive.authorizedRequests("changes"), 0);
  ASSERT_TRUE(drive.sendToken());
  EXPECT_TRUE(drive.nextEvent("signalled"));  // the token made the vendor usable
  EXPECT_TRUE(waitForAuthorizedRequest("changes?anchor="));
}

TEST_F(DriveHelperEndToEnd, ControlMessagesReportTheDomainsState) {
  ASSERT_TRUE(drive.startServe());
  ASSERT_TRUE(drive.nextEvent("attached"));

  drive.send({{"type", "disconnect"}, {"reason", "maintenance"}});
  auto disconnected = drive.nextEvent("status");
  ASSERT_TRUE(disconnected);
  EXPECT_EQ((*disconnected)["disconnected"], true);
  EXPECT_EQ(drive.helper({"list"}).output["domains"][0]["disconnected"], true);

  drive.send({{"type", "reconnect"}});
  auto reconnected = drive.nextEvent("status");
  ASSERT_TRUE(reconnected);
  EXPECT_EQ((*reconnected)["disconnected"], false);

  drive.send({{"type", "disconnect"}});
  auto withoutReason = drive.nextEvent("status");
  ASSERT_TRUE(withoutReason);
  EXPECT_EQ((*withoutReason)["disconnected"], true);

  drive.send({{"type", "launch"}});
  auto error = drive.nextEvent("error");
  ASSERT_TRUE(error);
  EXPECT_EQ((*error)["message"], "unknown message");

  // Garbage prints nothing: the next line answers the status request.
  ASSERT_TRUE(drive.serve().writeInput("not json\n[1,2]\n\"text\"\n"));
  drive.send({{"type", "status"}});
  auto line = drive.serve().readOutputLine(10s);
  ASSERT_TRUE(line);
  EXPECT_EQ(json::parse(*line)["event"], "status");
}

TEST_F(DriveHelperEndToEnd, TheHelperAttachesAgainWhenTheDaemonReturns) {
  ASSERT_TRUE(drive.startServe());
  ASSERT_TRUE(drive.nextEvent("attached"));
  EXPECT_EQ(drive.stopDaemon(), 0);
  ASSERT_TRUE(drive.nextEvent("detached"));
  // While the daemon is away, the helper says why it cannot connect.
  auto failure = drive.nextEvent("error");
  ASSERT_TRUE(failure);
  EXPECT_NE((*failure)["message"].get<std::string>().find("getService: "), std::string::npos);
  ASSERT_TRUE(drive.startDaemon());
  EXPECT_TRUE(drive.nextEvent("attached", 20s));

  drive.serve().closeInput();
  EXPECT_EQ(drive.serve().waitForExit(10s), 0);
}

TEST_F(DriveHelperEndToEnd, RemovedDomainsStopInTheDaemon) {
  auto removed = drive.helper({"remove", "demo"});
  ASSERT_EQ(removed.status, 0);
  EXPECT_EQ(removed.output["removed"], true);
  EXPECT_EQ(removed.output["preserved_path"], nullptr);
  auto served = drive.helper({"serve", "demo"});
  EXPECT_EQ(served.status, 1);
  EXPECT_EQ(served.output["error"], "no domain demo");
}

}  // namespace
}  // namespace ostrel
