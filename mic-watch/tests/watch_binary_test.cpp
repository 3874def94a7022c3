#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include <map>
#include <vector>

#include "mic-watch/reconnect_backoff.h"
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

TEST(WatchProcess, RecordersEndingTogetherEachStopAsTheyStarted) {
  if (!PulseDaemon::available()) GTEST_SKIP() << "pulseaudio is not installed";
  auto daemon = PulseDaemon::start({"module-sine-source source_name=sine rate=48000 frequency=440"});
  ASSERT_TRUE(daemon) << "the test server did not start";
  auto watch = ChildProcess::start(MIC_WATCH_PATH, {}, daemon->environment());
  ASSERT_TRUE(watch);
  ASSERT_EQ(nextLine(*watch)["event"], "hello");

  std::vector<ChildProcess> recorders;
  for (int k = 0; k < 3; ++k) {
    auto recorder = ChildProcess::start("parecord", {"-d", "sine", "/dev/null"}, daemon->environment());
    ASSERT_TRUE(recorder);
    recorders.push_back(std::move(*recorder));
  }
  std::map<int, Json> started;
  for (int k = 0; k < 3; ++k) {
    const Json line = nextLine(*watch);
    ASSERT_EQ(line["event"], "start") << line.dump();
    started[line["pid"].get<int>()] = line;
  }
  for (auto& recorder : recorders) {
    ASSERT_TRUE(started.contains(recorder.pid()));
    recorder.signal(SIGTERM);
  }
  for (auto& recorder : recorders) ASSERT_TRUE(recorder.waitForExit(10s).has_value());

  for (int k = 0; k < 3; ++k) {
    Json line = nextLine(*watch);
    ASSERT_EQ(line["event"], "stop") << line.dump();
    const auto start = started.find(line["pid"].get<int>());
    ASSERT_NE(start, started.end()) << "a stop nobody started: " << line.dump();
    line["event"] = "start";
    EXPECT_EQ(line, start->second);
    started.erase(start);
  }
}

TEST(WatchProcess, ReportsAgainOnceTheServerIsBack) {
  if (!PulseDaemon::available()) GTEST_SKIP() << "pulseaudio is not installed";
  auto daemon = PulseDaemon::start({"module-sine-source source_name=sine rate=48000 frequency=440"});
  ASSERT_TRUE(daemon) << "the test server did not start";
  auto watch = ChildProcess::start(MIC_WATCH_PATH, {}, daemon->environment());
  ASSERT_TRUE(watch);
  ASSERT_EQ(nextLine(*watch)["event"], "hello");
  auto before = ChildProcess::start("parecord", {"-d", "sine", "/dev/null"}, daemon->environment());
  ASSERT_TRUE(before);
  ASSERT_EQ(nextLine(*watch)["pid"], before->pid());

  // The server's end ends its recordings too.
  daemon->stopServer();
  const Json stopped = nextLine(*watch);
  EXPECT_EQ(stopped["event"], "stop") << stopped.dump();
  EXPECT_EQ(stopped["app_name"], "parecord");
  before->waitForExit(10s);

  ASSERT_TRUE(daemon->startServer());
  auto after = ChildProcess::start("parecord", {"-d", "sine", "/dev/null"}, daemon->environment());
  ASSERT_TRUE(after);
  const Json started = nextLine(*watch);
  EXPECT_EQ(started["event"], "start") << started.dump();
  EXPECT_EQ(started["pid"], after->pid());
  watch->signal(SIGTERM);
  EXPECT_EQ(watch->waitForExit(10s), 0);
}

TEST(ReconnectBackoff, WaitsLongerEachTimeUpToItsBoundAndNotAfterASuccess) {
  using Clock = ReconnectBackoff::Clock;
  ReconnectBackoff backoff(4s);
  Clock::time_point now{};
  EXPECT_TRUE(backoff.due(now)) << "the first attempt is at once";
  std::vector<std::chrono::milliseconds> pauses;
  for (int failure = 0; failure < 5; ++failure) {
    backoff.failed(now);
    auto waited = 0ms;
    while (!backoff.due(now + waited) && waited < 60s) waited += 250ms;
    pauses.push_back(waited);
    now += waited;
  }
  EXPECT_EQ(pauses, (std::vector<std::chrono::milliseconds>{1s, 2s, 4s, 4s, 4s}));
  backoff.succeeded();
  EXPECT_TRUE(backoff.due(now));
  backoff.failed(now);
  EXPECT_FALSE(backoff.due(now + 999ms));
  EXPECT_TRUE(backoff.due(now + 1s));
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
