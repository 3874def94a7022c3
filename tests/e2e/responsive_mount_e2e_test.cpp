// The mount answers what it knows while downloads wait, and a reader that is
// interrupted stops waiting at once.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>

#include "platform/foundation/unique_fd.h"
#include "tests/e2e/mount_fixture.h"

namespace ostrel::testing {
namespace {

class ResponsiveMountEndToEnd : public DriveMountEndToEnd {
 protected:
  // Downloads wait `delay` before the service sends anything.
  void slowDownloads(std::chrono::milliseconds delay, int count) const {
    auto rule = json{{"method", "GET"}, {"path_prefix", "/transfers/download"}, {"delay_ms", delay.count()},
                     {"count", count}};
    ASSERT_EQ(service.admin("POST", "/admin/faults", rule.dump()).status, 201);
  }
  // Files of the matter (versions, drafts, records), listed so that opening them waits only for bytes.
  std::vector<fs::path> versions() const {
    std::vector<fs::path> found;
    for (const auto& item : fs::recursive_directory_iterator(matter()))
      if (item.is_regular_file()) found.push_back(item.path());
    return found;
  }
  bool downloading(int count) const {
    return eventually([&] { return drive.authorizedRequests("/content-url", "POST") >= count; }, 20s);
  }
};

TEST_F(ResponsiveMountEndToEnd, WhatIsKnownAnswersWhileColdOpensWait) {
  // Sixteen cold files opened twice each: fewer downloads than the service has threads.
  auto files = versions();
  ASSERT_GE(files.size(), 16u);
  files.resize(16);
  slowDownloads(6s, 64);
  clearRequests();

  std::atomic<int> opened = 0;
  std::vector<std::thread> readers;
  for (int i = 0; i < 32; ++i) {
    readers.emplace_back([&, file = files[i % files.size()]] {
      if (UniqueFd fd{::open(file.c_str(), O_RDONLY | O_CLOEXEC)}; fd.valid()) ++opened;
    });
  }
  ASSERT_TRUE(downloading(16));
  // Listed folders and known attributes answer before any download is done.
  struct stat attributes {};
  EXPECT_EQ(::stat(matter().c_str(), &attributes), 0);
  EXPECT_EQ(run("/bin/ls", {"-l", matter().string(), (drive.mount() / "My matters").string()}, 20s).status, 0);
  EXPECT_EQ(::stat((matter() / "Correspondence").c_str(), &attributes), 0);
  EXPECT_EQ(opened, 0);
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(opened, 32);
}

TEST_F(ResponsiveMountEndToEnd, AnInterruptedReadEndsBeforeTheServiceAnswers) {
  const auto files = versions();
  ASSERT_FALSE(files.empty());
  slowDownloads(30s, 1);
  clearRequests();
  auto cat = ChildProcess::start("/bin/cat", {files[0].string()}, {});
  ASSERT_TRUE(cat);
  ASSERT_TRUE(downloading(1));
  std::this_thread::sleep_for(200ms);
  cat->signal(SIGINT);
  cat->waitForExit(10s);
  EXPECT_LT(cat->pid(), 0) << "cat still waits after SIGINT";
  // The drive goes on.
  EXPECT_TRUE(fs::exists(matter() / "Correspondence"));
}

TEST_F(ResponsiveMountEndToEnd, ASecondReaderKeepsTheDownloadWhenTheFirstIsInterrupted) {
  const auto files = versions();
  ASSERT_FALSE(files.empty());
  const fs::path copy = drive.home() / "copy";
  slowDownloads(3s, 1);
  clearRequests();
  auto first = ChildProcess::start("/bin/cat", {files[0].string()}, {});
  ASSERT_TRUE(first);
  ASSERT_TRUE(downloading(1));
  auto second = ChildProcess::start("/bin/sh", {"-c", "exec cat \"$0\" > \"$1\"", files[0].string(), copy.string()}, {});
  ASSERT_TRUE(second);
  std::this_thread::sleep_for(300ms);
  first->signal(SIGINT);
  first->waitForExit(10s);
  EXPECT_LT(first->pid(), 0);
  EXPECT_EQ(second->waitForExit(30s), 0);
  EXPECT_EQ(readFile(copy), readFile(files[0]));
  EXPECT_TRUE(readFile(copy).starts_with("PK"));
  // One download served both.
  EXPECT_EQ(drive.authorizedRequests("/content-url", "POST"), 1);
}

// A document of 4 MiB written through the mount, its version found and the
// daemon started again without what it kept, so that its bytes are no longer here.
class ColdLargeFileEndToEnd : public ResponsiveMountEndToEnd {
 protected:
  void SetUp() override {
    ResponsiveMountEndToEnd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    bytes.resize(4 << 20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + (i * 7919) % 26);
    bytes.replace(0, 8, "%PDF-1.4");
    ASSERT_TRUE(writeFile(matter() / "Correspondence" / "Large.pdf", bytes));
    ASSERT_TRUE(eventually([&] { return childNamed(folderOfMatter("Correspondence"), "Large.pdf").has_value(); }, 30s));
    // What the daemon kept of it goes while the daemon is down.
    ASSERT_EQ(drive.stopDaemon(), 0);
    fs::remove_all(drive.home() / "FileProvider" / "Domains" / "demo" / "contents");
    ASSERT_TRUE(drive.startDaemon());
    ASSERT_TRUE(drive.waitForMount());
    ASSERT_TRUE(eventually([&] {
      std::error_code ignored;
      for (const auto& item : fs::directory_iterator(matter() / "Correspondence" / "Large.pdf", ignored)) {
        if (item.is_regular_file()) version = item.path();
      }
      return !version.empty();
    }, 30s));
  }

  std::string bytes;
  fs::path version;
};

TEST_F(ColdLargeFileEndToEnd, TheFirstBytesAreReadWhileTheRestArrives) {
  auto rule = json{{"method", "GET"}, {"path_prefix", "/transfers/download"}, {"bytes_per_second", 1 << 20},
                   {"count", 1}};
  ASSERT_EQ(service.admin("POST", "/admin/faults", rule.dump()).status, 201);
  const fs::path whole = drive.home() / "whole", first = drive.home() / "first";
  auto reader = ChildProcess::start("/bin/sh", {"-c", "exec cat \"$0\" > \"$1\"", version.string(), whole.string()}, {});
  ASSERT_TRUE(reader);
  ASSERT_TRUE(downloading(1));
  EXPECT_EQ(run("/bin/sh", {"-c", "exec head -c 65536 \"$0\" > \"$1\"", version.string(), first.string()}, 20s).status, 0);
  EXPECT_EQ(readFile(first), bytes.substr(0, 65536));
  // The whole file is still on its way.
  std::error_code ignored;
  EXPECT_LT(fs::file_size(whole, ignored), bytes.size());
  reader->waitForExit(1ms);
  EXPECT_GT(reader->pid(), 0) << "the download ended before the first bytes were read";
  EXPECT_EQ(reader->waitForExit(60s), 0);
  EXPECT_EQ(readFile(whole), bytes);
  EXPECT_EQ(readFile(version), bytes);
}

TEST_F(ColdLargeFileEndToEnd, ATransferCutShortIsAnErrorAndNoPartOfItIsServedLater) {
  auto rule = json{{"method", "GET"}, {"path_prefix", "/transfers/download"}, {"drop_after_bytes", 1 << 20},
                   {"bytes_per_second", 4 << 20}, {"count", 1}};
  ASSERT_EQ(service.admin("POST", "/admin/faults", rule.dump()).status, 201);
  const fs::path copy = drive.home() / "copy";
  auto cut = run("/bin/sh", {"-c", "exec cat \"$0\" > \"$1\"", version.string(), copy.string()}, 30s);
  EXPECT_NE(cut.status, 0);
  EXPECT_LE(readFile(copy).size(), size_t{1} << 20);
  EXPECT_EQ(readFile(version), bytes);
}

}  // namespace
}  // namespace ostrel::testing
