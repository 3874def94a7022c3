#include "platform/foundation/url_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/foundation/testing/loopback_http_server.h"

namespace ostrel {
namespace {

using testing::LoopbackHttpServer;
namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ostrel-session-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(path_), {})); }

 private:
  fs::path path_;
};

// Sends `chunks` chunks of 1 KiB, one every `interval`, as long as the client reads.
LoopbackHttpServer::Handler slowBody(int chunks, std::chrono::milliseconds interval) {
  return [chunks, interval](const httplib::Request&, httplib::Response& response) {
    auto sent = std::make_shared<int>(0);
    response.set_chunked_content_provider("application/octet-stream",
                                          [chunks, interval, sent](size_t, httplib::DataSink& sink) {
                                            if (*sent == chunks) {
                                              sink.done();
                                              return true;
                                            }
                                            std::this_thread::sleep_for(interval);
                                            ++*sent;
                                            std::string chunk(1024, 'x');
                                            return sink.write(chunk.data(), chunk.size());
                                          });
  };
}

TEST(URLSessionTest, SendsMethodHeadersAndBodyAndReturnsAnyStatus) {
  LoopbackHttpServer server;
  server.on("PATCH", "/items/a", LoopbackHttpServer::json(409, R"({"detail":{"code":"x"}})"));
  URLSession session;
  URLRequest request{server.base() + "/items/a", "PATCH", {{"Accept", "application/json"}, {"Content-Type", "application/json"}},
                     std::string("{}"), std::nullopt};
  auto response = session.data(request, {});
  ASSERT_TRUE(response) << response.error().localizedDescription();
  EXPECT_EQ(response->status, 409);
  EXPECT_EQ(response->body, R"({"detail":{"code":"x"}})");
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "PATCH");
  EXPECT_EQ(seen[0].body, "{}");
  EXPECT_EQ(seen[0].header("Content-Type"), "application/json");
  EXPECT_EQ(seen[0].header("Accept"), "application/json");
}

TEST(URLSessionTest, MethodsWithoutBodies) {
  LoopbackHttpServer server;
  server.fallback(LoopbackHttpServer::json(204, ""));
  URLSession session;
  for (const char* method : {"GET", "DELETE", "POST"}) {
    auto response = session.data({server.base() + "/x", method, {}, std::nullopt, std::nullopt}, {});
    ASSERT_TRUE(response) << method;
    EXPECT_EQ(response->status, 204);
  }
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].method, "DELETE");
  EXPECT_EQ(seen[2].method, "POST");
  EXPECT_EQ(seen[2].header("Content-Type"), "");  // no form type slipped in
}

TEST(URLSessionTest, TransportFailuresAreURLErrors) {
  int closedPort;
  {
    LoopbackHttpServer probe;
    closedPort = probe.port();
  }
  URLSession session;
  auto refused = session.data({"http://127.0.0.1:" + std::to_string(closedPort) + "/", "GET", {}, {}, {}}, {});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().domain, URLError::domain);
  EXPECT_EQ(refused.error().code, URLError::cannotConnectToHost);

  auto badHeader = session.data({"http://127.0.0.1:1/", "GET", {{"X-Evil", "a\r\nInjected: 1"}}, {}, {}}, {});
  ASSERT_FALSE(badHeader);
  EXPECT_EQ(badHeader.error().domain, URLError::domain);
}

TEST(URLSessionTest, AHeaderThatWouldBreakOrCutItsLineIsRefusedBeforeAnythingIsSent) {
  LoopbackHttpServer server;
  std::atomic<int> received = 0;
  server.on("GET", "/", [&](const httplib::Request&, httplib::Response& response) {
    ++received;
    response.status = 200;
  });
  URLSession session;
  using namespace std::string_literals;
  for (const auto& token : {"good\0evil"s, "good\revil"s, "good\nevil"s, "good\r\nX-Injected: 1"s, "\0"s}) {
    auto answer = session.data({server.base() + "/", "GET", {{"Authorization", "Bearer " + token}}, {}, {}}, {});
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().domain, URLError::domain);
  }
  for (const auto& name : {"X-Evil\0"s, "X-Evil:"s}) {
    EXPECT_FALSE(session.data({server.base() + "/", "GET", {{name, "1"}}, {}, {}}, {}));
  }
  EXPECT_EQ(received, 0);
  // A plain token still goes out.
  EXPECT_TRUE(session.data({server.base() + "/", "GET", {{"Authorization", "Bearer good"}}, {}, {}}, {}));
  EXPECT_EQ(received, 1);
}

TEST(URLSessionTest, SilentServerTimesOut) {
  LoopbackHttpServer server;
  server.on("GET", "/slow", [](const httplib::Request&, httplib::Response& response) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    response.status = 200;
  });
  URLSession session;
  auto response =
      session.data({server.base() + "/slow", "GET", {}, {}, std::chrono::milliseconds(1000)}, {});
  ASSERT_FALSE(response);
  EXPECT_EQ(response.error().code, URLError::timedOut);
}

TEST(URLSessionTest, CancellationEndsATransferInFlight) {
  LoopbackHttpServer server;
  server.on("GET", "/stream", slowBody(100, std::chrono::milliseconds(50)));
  URLSession session;
  std::stop_source stop;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.request_stop();
  });
  auto response = session.data({server.base() + "/stream", "GET", {}, {}, {}}, stop.get_token());
  canceller.join();
  ASSERT_FALSE(response);
  EXPECT_EQ(response.error().code, URLError::cancelled);
}

TEST(URLSessionTest, OversizedBodyFails) {
  LoopbackHttpServer server;
  server.on("GET", "/big", LoopbackHttpServer::json(200, std::string(5000, 'a')));
  URLSessionConfiguration configuration;
  configuration.maximumResponseBytes = 1000;
  URLSession session(configuration);
  auto response = session.data({server.base() + "/big", "GET", {}, {}, {}}, {});
  ASSERT_FALSE(response);
  EXPECT_EQ(response.error().code, URLError::dataLengthExceedsMaximum);
}

TEST(URLSessionTest, DownloadStreamsToAFileAndLeavesNothingOnFailure) {
  LoopbackHttpServer server;
  server.on("GET", "/file", slowBody(64, std::chrono::milliseconds(0)));
  server.on("GET", "/forever", slowBody(1000, std::chrono::milliseconds(20)));
  URLSession session;
  TempDir dir;

  auto done = session.download({server.base() + "/file", "GET", {}, {}, {}}, dir.path(), {});
  ASSERT_TRUE(done) << done.error().localizedDescription();
  EXPECT_EQ(done->status, 200);
  EXPECT_EQ(done->file.parent_path(), dir.path());
  EXPECT_EQ(fs::file_size(done->file), 64u * 1024u);
  fs::remove(done->file);

  std::stop_source stop;
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.request_stop();
  });
  auto cancelled = session.download({server.base() + "/forever", "GET", {}, {}, {}}, dir.path(), stop.get_token());
  canceller.join();
  ASSERT_FALSE(cancelled);
  EXPECT_EQ(cancelled.error().code, URLError::cancelled);
  EXPECT_EQ(dir.entries(), 0u);
}

TEST(URLSessionTest, UploadStreamsTheFileWithoutWaitingForContinue) {
  LoopbackHttpServer server;
  server.on("PUT", "/slot", LoopbackHttpServer::json(201, "{}"));
  URLSession session;
  TempDir dir;
  const auto file = dir.path() / "payload.bin";
  std::string bytes(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 % 251);
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

  auto response = session.upload({server.base() + "/slot", "PUT", {{"Content-Type", "application/pdf"}}, {}, {}},
                                  file, {});
  ASSERT_TRUE(response) << response.error().localizedDescription();
  EXPECT_EQ(response->status, 201);
  auto seen = server.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].body, bytes);
  EXPECT_EQ(seen[0].header("Content-Type"), "application/pdf");
  EXPECT_EQ(seen[0].header("Expect"), "");

  auto missing = session.upload({server.base() + "/slot", "PUT", {}, {}, {}}, dir.path() / "absent", {});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, URLError::cannotOpenFile);
}

TEST(URLSessionTest, ConcurrentRequestsShareOneSession) {
  LoopbackHttpServer server;
  server.fallback([](const httplib::Request& request, httplib::Response& response) {
    response.set_content(request.path, "text/plain");
  });
  URLSession session;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        const std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i);
        auto response = session.data({server.base() + path, "GET", {}, {}, {}}, {});
        if (response && response->status == 200 && response->body == path) ++ok;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ok.load(), 80);
}

}  // namespace
}  // namespace ostrel
