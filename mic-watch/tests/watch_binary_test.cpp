#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/testing/child_process.h"
#include "platform/coreaudio/testing/pulse_daemon.h"

namespace ostrel::micwatch {
namespace {

using namespace std::chrono_literals;
using ostrel::testing::ChildProcess;
using coreaudio::testing::PulseDaemon;
using Json = nlohmann::json;

Json nextLine(ChildProcess& watch) {
  const auto line = watch.readOutputLine(10s);
  return line ? Json::parse(*line, nullptr, false) : Json();
}

TEST(WatchProcess, ReportsARecorderFromStartToStop) {
  if (!PulseDaemon::available()) GTEST_SKIP() << "pulseaudio is not installed";
  auto daemon = PulseDaemon::start({"module-null-sink sink_name=speakers",
                                    "module-sine-source source_name=sine rate=48000 frequency=440"});
  ASSERT_TRUE(daemon) << "the test server did not start";

  auto watch = ChildProcess::start(MIC_WATCH_PATH, {}, daemon->environment());
  ASSERT_TRUE(watch);
  EXPECT_EQ(nextLine(*watch), (Json{{"event", "hello"}, {"api", "process-objects"}}));

  // A monitor recording (a level meter, say) is not a process taking input.
  auto meter = ChildProcess::start("parecord", {"-d", "speakers.monitor", "/dev/null"}, daemon->environment());
  ASSERT_TRUE(meter);
  auto recorder = ChildProcess::start("parecord", {"-d", "sine", "/dev/null"}, daemon->environment());
  ASSERT_TRUE(recorder);
  const Json started = nextLine(*watch);
  EXPECT_EQ(started["event"], "start");
  EXPECT_EQ(started["pid"], recorder->pid());
  EXPECT_EQ(started["app_name"], "parecord");
  EXPECT_FALSE(started["app_id"].get<std::string>().empty());

  recorder->signal(SIGTERM);
  ASSERT_TRUE(recorder->waitForExit(10s).has_value());
  const Json stopped = nextLine(*watch);
  EXPECT_EQ(stopped, (Json{{"event", "stop"},
                           {"app_id", started["app_id"]},
                           {"app_name", "parecord"},
                           {"pid", recorder->pid() > 0 ? recorder->pid() : started["pid"].get<int>()}}));

  watch->signal(SIGTERM);
  EXPECT_EQ(watch->waitForExit(10s), 0);
  EXPECT_FALSE(watch->readOutputLine(1s).has_value()) << "nothing follows the stop line";
}

TEST(WatchProcess, SaysHelloAndEndsOnSignalWithoutAServer) {
  auto watch = ChildProcess::start(MIC_WATCH_PATH, {},
                                   {{"PULSE_SERVER", "unix:/nonexistent/ostrel/native"},
                                    {"XDG_RUNTIME_DIR", "/nonexistent/ostrel"}});
  ASSERT_TRUE(watch);
  EXPECT_EQ(nextLine(*watch), (Json{{"event", "hello"}, {"api", "process-objects"}}));
  watch->signal(SIGINT);
  EXPECT_EQ(watch->waitForExit(10s), 0);
}

}  // namespace
}  // namespace ostrel::micwatch
