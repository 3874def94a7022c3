#pragma once

// The drive as the user sees it: the daemon's FUSE mount of a domain, served
// by the real extension against the reference service.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/e2e/drive_stack.h"

namespace ostrel::testing {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

inline std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Writes through one open file: the close is what sends it.
inline bool writeFile(const fs::path& file, const std::string& bytes) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && written;
}

inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 15s) {
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

  // Authorised API requests of that method whose target holds `containing`,
  // or is `target`, from the service's request log.
  int requests(const std::string& method, const std::string& containing) const {
    return drive.authorizedRequests(containing, method);
  }
  int requestsTo(const std::string& method, const std::string& target) const {
    return drive.authorizedRequests(target, method, true);
  }
  void clearRequests() const { service.admin("DELETE", "/admin/requests"); }

  // The bytes the service keeps for a version or draft, downloaded as any client does.
  std::optional<std::string> serviceBytes(const std::string& identifier) const {
    auto answer = service.api("POST", "/api/drive/items/" + identifier + "/content-url", "{}");
    auto body = json::parse(answer.body, nullptr, false);
    if (answer.status != 200 || !body.is_object() || !body["url"].is_string()) return std::nullopt;
    std::string url = body["url"];
    if (!url.starts_with(service.base())) return std::nullopt;
    auto download = service.admin("GET", url.substr(service.base().size()));
    if (download.status != 200) return std::nullopt;
    return download.body;
  }

  struct Ran {
    std::optional<int> status;
    std::string errors;
  };
  // A program run to its end (bounded), as a person runs it in a shell.
  static Ran run(const std::string& program, const std::vector<std::string>& arguments,
                 std::chrono::milliseconds timeout = 60s) {
    auto child = ChildProcess::start(program, arguments, {});
    if (!child) return {std::nullopt, program + " did not start"};
    child->drain(timeout);
    Ran ran{child->waitForExit(5s), {}};
    for (const auto& line : child->remainingErrorLines()) ran.errors += line + "\n";
    return ran;
  }

  ReferenceService service;
  DriveStack drive{service, true};
};

}  // namespace ostrel::testing
