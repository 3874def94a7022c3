#include "platform/foundation/termination.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace ostrel {
namespace {

// A child process that waits for a termination signal and exits with a
// status naming the signal it saw.
int runChildAndSignal(int signal) {
  pid_t pid = fork();
  if (pid == 0) {
    watchTerminationSignals([](int seen) { std::_Exit(seen == SIGTERM ? 10 : seen == SIGINT ? 11 : 12); });
    for (int i = 0; i < 1000; ++i) usleep(10000);
    std::_Exit(1);
  }
  usleep(100000);
  kill(pid, signal);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TerminationTest, EachSignalReachesTheCallback) {
  EXPECT_EQ(runChildAndSignal(SIGTERM), 10);
  EXPECT_EQ(runChildAndSignal(SIGINT), 11);
}

}  // namespace
}  // namespace ostrel
