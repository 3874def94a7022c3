#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "tools/reference-service/tests/service_fixture.h"

namespace ostrel::refsvc::testing {
namespace {

using ConcurrencyTest = ServiceTest;

// Requests run on the service's worker threads at the same time; every
// write must land once, with its own identifier and its own change record.
TEST_F(ConcurrencyTest, ParallelWritesAndTransfersAllLand) {
  const std::string parent = idAt("my-matters", {"Meyer v. Castellan", "Evidence"});
  const std::string anchor = client_->send("GET", "/api/drive/changes/head").value["anchor"];
  constexpr int writers = 4;
  constexpr int each = 6;
  std::vector<std::vector<std::string>> made(writers);
  std::vector<std::string> failures(writers);
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w) {
    threads.emplace_back([&, w] {
      ServiceClient client(client_->base(), partnerToken);
      for (int i = 0; i < each; ++i) {
        const std::string name = "Bundle " + std::to_string(w) + "-" + std::to_string(i) + ".txt";
        const std::string bytes = patternBytes(200'000 + static_cast<size_t>(i), static_cast<unsigned>(w * 100 + i));
        auto created = client.createDocument(parent, name, bytes);
        if (created.status != 201) {
          failures[w] = name + ": " + created.body;
          return;
        }
        const std::string document = created.value["item"]["identifier"];
        auto version = client.page(document, 1).value["items"][0]["identifier"].get<std::string>();
        if (client.download(version).body != bytes) {
          failures[w] = name + ": other bytes came back";
          return;
        }
        made[w].push_back(document);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& failure : failures) EXPECT_EQ(failure, "");

  std::set<std::string> documents;
  for (const auto& ids : made) documents.insert(ids.begin(), ids.end());
  EXPECT_EQ(documents.size(), static_cast<size_t>(writers * each));
  std::set<std::string> listed;
  for (const auto& child : client_->children(parent, 7)) listed.insert(child["identifier"].get<std::string>());
  for (const auto& id : documents) EXPECT_TRUE(listed.count(id)) << id;

  auto feed = client_->send("GET", "/api/drive/changes?anchor=" + anchor + "&limit=500");
  ASSERT_EQ(feed.status, 200);
  std::set<std::string> changed;
  for (const auto& item : feed.value["updated"]) changed.insert(item["identifier"].get<std::string>());
  for (const auto& id : documents) EXPECT_TRUE(changed.count(id)) << id;
  EXPECT_FALSE(feed.value["more"]);
}

}  // namespace
}  // namespace ostrel::refsvc::testing
