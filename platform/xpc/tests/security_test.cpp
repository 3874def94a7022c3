#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/xpc/tests/test_support.h"

extern char** environ;

namespace ostrel::xpc {
namespace {

using namespace testing;

class SecurityTest : public XpcTest {};

// Runs the peer program as another user against `socketPath`; its exit status.
int connectAsNobody(const std::string& socketPath, const char* access) {
  const std::string program = peerProgram();
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("foreign"),
                  const_cast<char*>(socketPath.c_str()), const_cast<char*>(access), nullptr};
  pid_t child = 0;
  if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  ::waitpid(child, &status, 0);  // the peer bounds its own waits
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SecurityTest, AnotherUserIsKeptOutEvenPastTheFilePermissions) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a peer as another user";
  auto server = extensionSide();
  Link link(server, nullptr);
  const std::string path = link.listener->endpoint().socketPath;

  EXPECT_EQ(connectAsNobody(path, "plain"), 10) << "the directory and socket modes refuse the connect";
  EXPECT_EQ(connectAsNobody(path, "keep-dac"), 0) << "the peer check closes what the modes let through";

  // Connections are handed over in order, so the first one the delegate sees is ours.
  auto client = hostSide();
  client->configure(Connection::create(link.listener->endpoint()));
  client->connection->resume();
  EXPECT_EQ(server->events.take(), "accepted");
  EXPECT_EQ(server->connection->processIdentifier(), ::getpid());
  client->connection->invalidate();
  EXPECT_TRUE(client->waitUntilEnded());
}

}  // namespace
}  // namespace ostrel::xpc
