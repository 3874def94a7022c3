#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/appkit/tests/workspace_fixture.h"
#include "platform/appkit/workspace.h"

namespace ostrel {
namespace {

class ActivationTest : public testing::WorkspaceFixture {
 protected:
  // Runs the queue (this thread is its main thread) until `count`
  // notifications have arrived or five seconds have passed.
  bool deliverUntil(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen.size() < count && std::chrono::steady_clock::now() < deadline) {
      queue.restart();
      queue.run_for(std::chrono::milliseconds(20));
    }
    return seen.size() == count;
  }
  // Gives stray notifications a chance to show up.
  void settle() {
    queue.restart();
    queue.run_for(std::chrono::milliseconds(200));
  }

  ActivationObservation observe(Workspace& workspace) {
    auto observation = workspace.observeActivations(queue, [this](const std::optional<RunningApplication>& application) {
      seen.push_back(application ? application->bundleIdentifier.value_or("(no id)") : "(none)");
      EXPECT_EQ(std::this_thread::get_id(), mainThread);
    });
    EXPECT_TRUE(observation.has_value());
    return std::move(*observation);
  }

  asio::io_context queue;
  std::vector<std::string> seen;
  std::thread::id mainThread = std::this_thread::get_id();
};

TEST_F(ActivationTest, EachAppendedLineIsOneNotificationOnTheQueue) {
  append("activations.jsonl", R"({"application":{"bundle_id":"old.history"}})" "\n");
  Workspace workspace;
  auto observation = observe(workspace);

  append("activations.jsonl",
         R"({"application":{"bundle_id":"com.microsoft.Word","name":"Microsoft Word"}})" "\n"
         R"({"application":null})" "\n"
         "not json\n"
         "\n"
         R"({})" "\n"
         R"({"application":"Finder"})" "\n"
         R"({"application":{"name":"Nameless"}})" "\n");
  ASSERT_TRUE(deliverUntil(5)) << ::testing::PrintToString(seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"com.microsoft.Word", "(none)", "(none)", "(none)", "(no id)"}));
}

TEST_F(ActivationTest, ALineCountsOnlyOnceItsLineFeedArrives) {
  Workspace workspace;
  auto observation = observe(workspace);
  append("activations.jsonl", R"({"application":{"bundle_id":"com.apple.fin)");
  settle();
  EXPECT_TRUE(seen.empty());
  append("activations.jsonl", "der\"}}\n");
  ASSERT_TRUE(deliverUntil(1));
  EXPECT_EQ(seen, std::vector<std::string>{"com.apple.finder"});
}

TEST_F(ActivationTest, AReplacedOrShortenedLogStartsOver) {
  append("activations.jsonl", std::string(300, ' ') + "\n");
  Workspace workspace;
  auto observation = observe(workspace);

  write("activations.jsonl", R"({"application":{"bundle_id":"a"}})" "\n");  // renamed over: a new file
  ASSERT_TRUE(deliverUntil(1));
  std::filesystem::remove(workspaceRoot() / "activations.jsonl");
  append("activations.jsonl", R"({"application":{"bundle_id":"b"}})" "\n");
  ASSERT_TRUE(deliverUntil(2));
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}

TEST_F(ActivationTest, ActivatingThroughTheWorkspaceIsObserved) {
  write("running.json", R"([{"bundle_id":"com.microsoft.Word","pid":3}])");
  Workspace workspace;
  auto observation = observe(workspace);
  ASSERT_TRUE(workspace.activate({"com.microsoft.Word", std::nullopt, 3, std::nullopt}, 0));
  ASSERT_TRUE(deliverUntil(1));
  EXPECT_EQ(seen, std::vector<std::string>{"com.microsoft.Word"});
}

TEST_F(ActivationTest, NothingArrivesOnceTheObservationIsDropped) {
  Workspace workspace;
  std::optional<ActivationObservation> observation = observe(workspace);
  observation.reset();
  append("activations.jsonl", R"({"application":{"bundle_id":"a"}})" "\n");
  settle();
  EXPECT_TRUE(seen.empty());
}

TEST_F(ActivationTest, AHandlerThatDropsItsObservationHearsNoMore) {
  Workspace workspace;
  std::optional<ActivationObservation> observation;
  observation = *workspace.observeActivations(queue, [&](const std::optional<RunningApplication>&) {
    seen.push_back("heard");
    observation.reset();
  });
  append("activations.jsonl", "{}\n{}\n");
  ASSERT_TRUE(deliverUntil(1));
  append("activations.jsonl", "{}\n");
  settle();
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
}  // namespace ostrel
