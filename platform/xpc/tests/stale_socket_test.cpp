// Socket files that outlive their listeners, and the listeners that must not
// be mistaken for them.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <future>

#include "platform/foundation/testing/child_process.h"
#include "platform/xpc/runtime_directory_linux.h"
#include "platform/xpc/stale_sockets_linux.h"
#include "platform/xpc/tests/test_support.h"

extern char** environ;

namespace ostrel::xpc {
namespace {

namespace fs = std::filesystem;
using namespace testing;

constexpr const char* serviceName = "local.ostrel.stale-test";

// A socket bound at `path`; listening with `backlog` unless it is negative.
// Closing it without unlinking leaves what a killed listener leaves.
UniqueFd boundSocket(const fs::path& path, int backlog) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0) << path;
  if (backlog >= 0) {
    EXPECT_EQ(::listen(fd.get(), backlog), 0);
  }
  return fd;
}

void leaveStaleSocket(const fs::path& path) { boundSocket(path, -1); }

int connectRaw(int fd, const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
}

// The pid of a real process that has ended and been reaped.
pid_t endedProcessId() {
  const std::string program = peerProgram();
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};  // no mode: exits at once
  pid_t child = 0;
  EXPECT_EQ(::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

class AcceptingDelegate : public ListenerDelegate {
 public:
  explicit AcceptingDelegate(std::shared_ptr<Side> side) : side_(std::move(side)) {}
  bool shouldAcceptNewConnection(std::shared_ptr<Connection> connection) override {
    side_->configure(connection);
    side_->events.put("accepted");
    connection->resume();
    return true;
  }

 private:
  std::shared_ptr<Side> side_;
};

class StaleSocketTest : public XpcTest {
 protected:
  fs::path directory() const { return base_ / "run"; }
  fs::path servicePath() const { return ListenerEndpoint::forService(serviceName).socketPath; }

  // A request from a fresh client to `listener` and its answer.
  void expectRoundTrip(const std::shared_ptr<Listener>& listener) {
    auto server = extensionSide([](const std::string&, const Arguments&, ReplyBlock reply) { reply({"attached"}); });
    auto client = hostSide();
    auto delegate = std::make_shared<AcceptingDelegate>(server);
    listener->setDelegate(delegate);
    listener->resume();
    client->configure(Connection::create(listener->endpoint()));
    client->connection->resume();
    Mailbox<Arguments> replies;
    client->send("attachWithReply:", {}, [&](Arguments arguments) { replies.put(std::move(arguments)); });
    EXPECT_EQ(server->events.take(), "accepted");
    EXPECT_EQ(replies.take(), (Arguments{"attached"}));
    for (auto* side : {client.get(), server.get()}) {
      if (!side->connection) continue;
      side->connection->invalidate();
      EXPECT_TRUE(side->waitUntilEnded());
    }
  }
};

TEST_F(StaleSocketTest, AServiceSocketNobodyAcceptsOnIsReplaced) {
  ASSERT_TRUE(prepareRuntimeDirectory(directory()));
  leaveStaleSocket(servicePath());
  ASSERT_TRUE(fs::exists(servicePath()));

  auto listener = Listener::forService(serviceName);
  ASSERT_TRUE(listener) << listener.error().localizedDescription();
  expectRoundTrip(*listener);
}

TEST_F(StaleSocketTest, AServiceSocketSomeoneListensOnIsNeverTakenOver) {
  ASSERT_TRUE(prepareRuntimeDirectory(directory()));

  // A running listener of the service.
  {
    auto first = Listener::forService(serviceName);
    ASSERT_TRUE(first) << first.error().localizedDescription();
    auto second = Listener::forService(serviceName);
    ASSERT_FALSE(second);
    EXPECT_TRUE(second.error().is(POSIXError::domain, EADDRINUSE));
    expectRoundTrip(*first);
  }

  // A listener that accepts nothing and has its backlog full: a connect can
  // neither succeed nor be refused, and a blocking one would wait for ever.
  UniqueFd occupant = boundSocket(servicePath(), 0);
  std::vector<UniqueFd> queued;
  for (int i = 0; i < 64; ++i) {
    UniqueFd client(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int rc = connectRaw(client.get(), servicePath());
    if (rc != 0 && errno == EAGAIN) break;
    ASSERT_EQ(rc, 0) << std::strerror(errno);
    queued.push_back(std::move(client));
  }
  ASSERT_FALSE(queued.empty());
  auto attempt = std::async(std::launch::async, [] { return Listener::forService(serviceName); });
  if (attempt.wait_for(kWait) != std::future_status::ready) {
    ADD_FAILURE() << "the listener waited on a full backlog";
    occupant.reset();  // lets the stuck connect go, so the test can end
  }
  auto second = attempt.get();
  ASSERT_FALSE(second);
  EXPECT_TRUE(second.error().is(POSIXError::domain, EADDRINUSE));

  // The path still leads to the occupant: one queued peer out, a new one in.
  UniqueFd accepted(::accept4(occupant.get(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_TRUE(accepted);
  UniqueFd newcomer(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  EXPECT_EQ(connectRaw(newcomer.get(), servicePath()), 0) << std::strerror(errno);
}

TEST_F(StaleSocketTest, AKilledProcessesSocketIsRemovedByTheNextListener) {
  auto peer = ostrel::testing::ChildProcess::start(peerProgram(), {"listen"}, {});
  ASSERT_TRUE(peer);
  const pid_t pid = peer->pid();
  const auto path = peer->readOutputLine(kWait);
  ASSERT_TRUE(path);
  peer->signal(SIGKILL);
  EXPECT_EQ(peer->waitForExit(kWait), std::nullopt);  // killed: no exit status
  ASSERT_EQ(::kill(pid, 0), -1) << "the peer is still there";
  ASSERT_TRUE(fs::exists(*path)) << "the killed listener removed its socket";

  auto listener = Listener::anonymous();
  ASSERT_TRUE(listener) << listener.error().localizedDescription();
  EXPECT_FALSE(fs::exists(*path));
  EXPECT_TRUE(fs::exists((*listener)->endpoint().socketPath));
}

TEST_F(StaleSocketTest, OnlySocketsProvablyDeadAreSwept) {
  ASSERT_TRUE(prepareRuntimeDirectory(directory()));
  const std::string ended = std::to_string(endedProcessId());
  const std::string running = std::to_string(::getppid());
  std::vector<UniqueFd> stillListening;
  const struct {
    std::string name;
    std::function<void(const fs::path&)> make;
    bool kept;
  } cases[] = {
      {ended + "-1-0000abcd.sock", leaveStaleSocket, false},
      {ended + "-2-0000abcd.sock", [&](const fs::path& p) { stillListening.push_back(boundSocket(p, 4)); }, true},
      // The process may be between its bind and its listen right now.
      {running + "-3-0000abcd.sock", leaveStaleSocket, true},
      {ended + "-4-0000abcd.sock", [](const fs::path& p) { std::ofstream(p) << "not a socket"; }, true},
      {ended + ".sock", leaveStaleSocket, true},
      {"notes-" + ended + "-5-0000abcd.sock", leaveStaleSocket, true},
      {"local.ostrel.other-service.sock", leaveStaleSocket, true},
  };
  for (const auto& c : cases) c.make(directory() / c.name);

  auto listener = Listener::anonymous();
  ASSERT_TRUE(listener) << listener.error().localizedDescription();
  for (const auto& c : cases) EXPECT_EQ(fs::exists(directory() / c.name), c.kept) << c.name;
}

TEST_F(StaleSocketTest, OnlyAnonymousSocketNamesNameAnOwner) {
  const struct {
    const char* name;
    std::optional<pid_t> owner;
  } cases[] = {
      {"4242-1-9f3c0a17.sock", 4242},
      {"1-18446744073709551615-00000000.sock", 1},
      {"4242-1-9f3c0a1.sock", std::nullopt},     // seven hex digits
      {"4242-1-9f3c0a177.sock", std::nullopt},   // nine
      {"4242-1-9f3c0a17.sock.new", std::nullopt},
      {"4242-1-9f3c0a17", std::nullopt},
      {"0-1-9f3c0a17.sock", std::nullopt},
      {"-4242-1-9f3c0a17.sock", std::nullopt},
      {"99999999999-1-9f3c0a17.sock", std::nullopt},  // beyond any pid
      {"4242--9f3c0a17.sock", std::nullopt},
      {"local.ostrel.fileproviderd.sock", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(anonymousSocketOwner(c.name), c.owner) << c.name;
}

}  // namespace
}  // namespace ostrel::xpc
