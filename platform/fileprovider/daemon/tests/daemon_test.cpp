#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/fileprovider/daemon/file_provider_daemon.h"
#include "platform/fileprovider/control_protocol.h"
#include "platform/fileprovider/fuse/domain_mount.h"
#include "platform/fileprovider/manager.h"
#include "platform/fileprovider/system_manager_linux.h"
#include "platform/xpc/connection.h"

namespace ostrel::fileprovider {
namespace {

using namespace std::chrono_literals;

// Stands where the FUSE mount would: keeps what the daemon tells it.
class RecordingMount final : public DomainMount {
 public:
  struct Calls {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::atomic<int> reachable = 0;
    void add(std::string line) {
      std::lock_guard lock(mutex);
      lines.push_back(std::move(line));
    }
    std::vector<std::string> copy() {
      std::lock_guard lock(mutex);
      return lines;
    }
  };

  explicit RecordingMount(std::shared_ptr<Calls> calls) : calls_(std::move(calls)) {}
  const std::filesystem::path& mountPoint() const override { return point_; }
  void applyChanges(std::vector<ItemPtr> updated, std::vector<ItemIdentifier> deleted) override {
    std::string line = "changes";
    for (const auto& item : updated) line += " +" + item->filename();
    for (const auto& identifier : deleted) line += " -" + identifier.rawValue;
    calls_->add(line);
  }
  void containerSignalled(const ItemIdentifier& container) override { calls_->add("signalled " + container.rawValue); }
  void forgetBelow(const ItemIdentifier& item) override { calls_->add("forget " + item.rawValue); }
  // Counted apart: every round that went through says so, however many there are.
  void serviceReachable() override { ++calls_->reachable; }
  std::vector<UnsentEdit> unsentEdits() override { return {{"Memo.txt", "waiting"}}; }

 private:
  std::shared_ptr<Calls> calls_;
  std::filesystem::path point_;
};

std::filesystem::path makeTemporaryDirectory() {
  std::string pattern = "/tmp/ofpd-XXXXXX";
  EXPECT_NE(mkdtemp(pattern.data()), nullptr);
  return pattern;
}

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = makeTemporaryDirectory();
    runtime_ = home_ / "xpc";
    setenv("OSTREL_HOME", home_.c_str(), 1);
    setenv("OSTREL_XPC_DIR", runtime_.c_str(), 1);
  }
  void TearDown() override {
    daemon_.reset();
    // A domain a connection still holds stops (and logs under the home) a moment later.
    std::error_code error;
    for (int i = 0; i < 100; ++i) {
      std::filesystem::remove_all(home_, error);
      if (!error) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    unsetenv("OSTREL_HOME");
    unsetenv("OSTREL_XPC_DIR");
  }

  void startDaemon() {
    auto module = ExtensionModule::load(TEST_APPEX);
    ASSERT_TRUE(module) << module.error().localizedDescription();
    auto daemon = FileProviderDaemon::start(
        std::move(*module), [calls = mountCalls_](std::shared_ptr<ReplicatedExtension>, const Domain&,
                                                  const DomainStorage&) -> std::expected<std::unique_ptr<DomainMount>, Error> {
          return std::make_unique<RecordingMount>(calls);
        });
    ASSERT_TRUE(daemon) << daemon.error().localizedDescription();
    daemon_ = *daemon;
  }

  std::string extensionLog() const {
    std::ifstream in(home_ / "test-extension.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Waits (bounded) until the extension's log holds every line, in this order.
  bool waitForLines(const std::vector<std::string>& lines) const {
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(10ms)) {
      std::string log = extensionLog();
      size_t at = 0;
      bool all = true;
      for (const auto& line : lines) {
        at = log.find(line + "\n", at);
        if (at == std::string::npos) {
          all = false;
          break;
        }
        at += line.size();
      }
      if (all) return true;
    }
    return false;
  }

  static std::optional<Error> added(const Domain& domain) {
    std::promise<std::optional<Error>> done;
    addDomain(domain, [&](std::optional<Error> error) { done.set_value(error); });
    return done.get_future().get();
  }

  static std::optional<Error> signal(const Domain& domain, const ItemIdentifier& container) {
    std::promise<std::optional<Error>> done;
    managerForDomain(domain)->signalEnumerator(container, [&](std::optional<Error> error) { done.set_value(error); });
    auto future = done.get_future();
    if (future.wait_for(10s) != std::future_status::ready) return Error{"timeout", 0, {}};
    return future.get();
  }

  // Waits (bounded) until the mount was told these, in this order.
  bool mountWasTold(const std::vector<std::string>& expected) const {
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(10ms)) {
      if (mountCalls_->copy() == expected) return true;
    }
    ADD_FAILURE() << "the mount was told: " << ::testing::PrintToString(mountCalls_->copy());
    return false;
  }

  std::filesystem::path home_;
  std::filesystem::path runtime_;
  std::shared_ptr<RecordingMount::Calls> mountCalls_ = std::make_shared<RecordingMount::Calls>();
  std::shared_ptr<FileProviderDaemon> daemon_;
};

const Domain one{.identifier = "one", .displayName = "One"};

TEST_F(DaemonTest, InstancesFollowTheRegistry) {
  startDaemon();
  ASSERT_EQ(added(one), std::nullopt);
  EXPECT_TRUE(waitForLines({"created one"}));

  std::promise<std::optional<Error>> removed;
  removeDomain(one, DomainRemovalMode::removeAll,
               [&](std::optional<std::filesystem::path>, std::optional<Error> error) { removed.set_value(error); });
  ASSERT_EQ(removed.get_future().get(), std::nullopt);
  EXPECT_TRUE(waitForLines({"created one", "invalidated one", "destroyed one"}));
}

TEST_F(DaemonTest, DomainsRegisteredBeforeTheDaemonStartWithIt) {
  ASSERT_EQ(added(one), std::nullopt);
  startDaemon();
  EXPECT_TRUE(waitForLines({"created one"}));
}

TEST_F(DaemonTest, ServiceLookupHandsOutTheExtensionsListener) {
  startDaemon();
  ASSERT_EQ(added(one), std::nullopt);
  auto manager = managerForDomain(one);

  std::promise<std::pair<std::shared_ptr<Service>, std::optional<Error>>> looked;
  manager->getService("test.echo", rootContainerItemIdentifier,
                      [&](std::shared_ptr<Service> service, std::optional<Error> error) {
                        looked.set_value({service, error});
                      });
  auto [service, error] = looked.get_future().get();
  ASSERT_EQ(error, std::nullopt);
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service->name(), "test.echo");

  std::shared_ptr<xpc::Connection> connection;
  service->getFileProviderConnection([&](std::shared_ptr<xpc::Connection> made, std::optional<Error>) {
    connection = made;
  });
  ASSERT_NE(connection, nullptr);
  connection->resume();
  EXPECT_TRUE(waitForLines({"service sources for NSFileProviderRootContainerItemIdentifier",
                            "service connection accepted"}));
  connection->invalidate();

  std::promise<std::pair<std::shared_ptr<Service>, std::optional<Error>>> missing;
  manager->getService("no.such.service", rootContainerItemIdentifier,
                      [&](std::shared_ptr<Service> service, std::optional<Error> error) {
                        missing.set_value({service, error});
                      });
  auto [none, noError] = missing.get_future().get();
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(noError, std::nullopt);
}

TEST_F(DaemonTest, WorkingSetSignalsFollowChangesBatchAfterBatch) {
  startDaemon();
  ASSERT_EQ(added(one), std::nullopt);
  ASSERT_EQ(signal(one, workingSetItemIdentifier), std::nullopt);
  EXPECT_TRUE(waitForLines({"current anchor", "changes from a0", "changes from a1"}));
  ASSERT_EQ(signal(one, workingSetItemIdentifier), std::nullopt);
  EXPECT_TRUE(waitForLines({"changes from a1", "changes from a2"}));
}

TEST_F(DaemonTest, TheMountHearsOfChangesSignalsAndReimports) {
  startDaemon();
  ASSERT_EQ(added(one), std::nullopt);
  ASSERT_EQ(signal(one, workingSetItemIdentifier), std::nullopt);
  ASSERT_TRUE(mountWasTold({"changes +first", "changes -gone"}));
  for (int i = 0; i < 1000 && mountCalls_->reachable == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_GT(mountCalls_->reachable, 0);

  ASSERT_EQ(signal(one, ItemIdentifier{"folder:7"}), std::nullopt);
  std::promise<std::optional<Error>> reimported;
  managerForDomain(one)->reimportItems(rootContainerItemIdentifier,
                                       [&](std::optional<Error> error) { reimported.set_value(error); });
  ASSERT_EQ(reimported.get_future().get(), std::nullopt);
  EXPECT_TRUE(mountWasTold({"changes +first", "changes -gone", "signalled folder:7",
                            "forget NSFileProviderRootContainerItemIdentifier", "changes +first", "changes -gone"}));
}

TEST_F(DaemonTest, TheControlServiceSaysWhatTheMountHasNotSent) {
  startDaemon();
  ASSERT_EQ(added(one), std::nullopt);
  std::promise<std::expected<std::string, Error>> answered;
  SystemManager(one, *DomainStorage::forDomain(one.identifier)).unsentEdits([&](auto result) {
    answered.set_value(result);
  });
  auto unsent = answered.get_future().get();
  ASSERT_TRUE(unsent.has_value()) << unsent.error().localizedDescription();
  EXPECT_EQ(*unsent, R"([{"name":"Memo.txt","state":"waiting"}])");

  std::promise<std::expected<std::string, Error>> unknown;
  SystemManager(Domain{"nobody", "Nobody"}, *DomainStorage::forDomain("nobody")).unsentEdits([&](auto result) {
    unknown.set_value(result);
  });
  EXPECT_FALSE(unknown.get_future().get().has_value());
}

TEST_F(DaemonTest, ListingsKeptBeforeALateAnchorAreForgotten) {
  std::ofstream(home_ / "no-anchor") << "";
  startDaemon();
  ASSERT_EQ(added(one), std::nullopt);
  ASSERT_TRUE(waitForLines({"current anchor"}));
  std::filesystem::remove(home_ / "no-anchor");
  ASSERT_EQ(signal(one, workingSetItemIdentifier), std::nullopt);
  EXPECT_TRUE(mountWasTold({"forget NSFileProviderRootContainerItemIdentifier", "changes +first", "changes -gone"}));
}

TEST_F(DaemonTest, AnExpiredAnchorIsReplacedByAFreshOne) {
  startDaemon();
  ASSERT_EQ(added(one), std::nullopt);
  ASSERT_TRUE(waitForLines({"current anchor"}));
  std::ofstream(home_ / "expire-anchor") << "";
  ASSERT_EQ(signal(one, workingSetItemIdentifier), std::nullopt);
  ASSERT_TRUE(waitForLines({"current anchor", "changes from a0", "current anchor"}));
  std::filesystem::remove(home_ / "expire-anchor");
  ASSERT_EQ(signal(one, workingSetItemIdentifier), std::nullopt);
  EXPECT_TRUE(waitForLines({"current anchor", "changes from a0", "current anchor", "changes from a0",
                            "changes from a1"}));
}

TEST_F(DaemonTest, DisconnectAndReconnectAreKeptInTheRegistry) {
  startDaemon();
  ASSERT_EQ(added(one), std::nullopt);
  auto manager = managerForDomain(one);
  auto flags = [] {
    std::vector<Domain> listed;
    getDomains([&](std::vector<Domain> domains, std::optional<Error>) { listed = domains; });
    return listed.size() == 1 ? listed[0].disconnected : std::optional<bool>();
  };
  std::promise<std::optional<Error>> disconnected;
  manager->disconnect("maintenance", 0, [&](std::optional<Error> error) { disconnected.set_value(error); });
  ASSERT_EQ(disconnected.get_future().get(), std::nullopt);
  EXPECT_EQ(flags(), true);

  std::promise<std::optional<Error>> reconnected;
  manager->reconnect([&](std::optional<Error> error) { reconnected.set_value(error); });
  ASSERT_EQ(reconnected.get_future().get(), std::nullopt);
  EXPECT_EQ(flags(), false);
}

TEST_F(DaemonTest, RequestsForAnUnknownDomainFail) {
  startDaemon();
  Domain stranger{.identifier = "stranger"};
  auto error = signal(stranger, workingSetItemIdentifier);
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->is(FileProviderError::domain, FileProviderError::providerNotFound));
  EXPECT_NE(error->localizedDescription().find("stranger"), std::string::npos);

  std::promise<std::optional<Error>> reconnected;
  managerForDomain(stranger)->reconnect([&](std::optional<Error> e) { reconnected.set_value(e); });
  auto reconnectError = reconnected.get_future().get();
  ASSERT_TRUE(reconnectError);
  EXPECT_TRUE(reconnectError->is(FileProviderError::domain, FileProviderError::providerNotFound));
}

TEST_F(DaemonTest, WithoutTheDaemonRequestsSaySoAndTheRegistryStillWorks) {
  ASSERT_EQ(added(one), std::nullopt);
  auto error = signal(one, workingSetItemIdentifier);
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->is(FileProviderError::domain, FileProviderError::providerNotFound));
  EXPECT_NE(error->localizedDescription().find("not running"), std::string::npos);

  std::vector<Domain> listed;
  getDomains([&](std::vector<Domain> domains, std::optional<Error>) { listed = domains; });
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].displayName, "One");
}

TEST_F(DaemonTest, OnlyOneDaemonServesAndAStaleSocketIsReplaced) {
  startDaemon();
  auto module = ExtensionModule::load(TEST_APPEX);
  ASSERT_TRUE(module);
  auto second = FileProviderDaemon::start(std::move(*module), {});
  ASSERT_FALSE(second);
  EXPECT_TRUE(second.error().is(POSIXError::domain, EADDRINUSE));
  daemon_.reset();

  // A socket file whose listener died without removing it.
  auto path = xpc::ListenerEndpoint::forService(control::serviceName).socketPath;
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  ASSERT_TRUE(std::filesystem::exists(path));
  startDaemon();
  ASSERT_EQ(added(one), std::nullopt);
  EXPECT_EQ(signal(one, workingSetItemIdentifier), std::nullopt);
}

TEST(ExtensionModuleTest, BundlesThatCannotBeLoadedAreRefusedWithAReason) {
  std::filesystem::path root = makeTemporaryDirectory();
  auto noPlist = ExtensionModule::load(root / "Missing.appex");
  ASSERT_FALSE(noPlist);
  EXPECT_NE(noPlist.error().localizedDescription().find("CFBundleExecutable"), std::string::npos);

  std::filesystem::create_directories(root / "Broken.appex/Contents/MacOS");
  std::ofstream(root / "Broken.appex/Contents/Info.plist")
      << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleExecutable</key>"
         "<string>Broken</string></dict></plist>";
  std::ofstream(root / "Broken.appex/Contents/MacOS/Broken") << "not a module";
  auto broken = ExtensionModule::load(root / "Broken.appex");
  ASSERT_FALSE(broken);
  EXPECT_NE(broken.error().localizedDescription().find("cannot load"), std::string::npos);
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace ostrel::fileprovider
