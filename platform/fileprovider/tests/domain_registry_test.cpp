#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/fileprovider/domain_registry.h"
#include "platform/fileprovider/domain_storage.h"
#include "platform/fileprovider/manager.h"
#include "platform/foundation/atomic_file.h"

namespace ostrel::fileprovider {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = "/tmp/ofpr-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    setenv("OSTREL_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    std::filesystem::remove_all(home_);
    unsetenv("OSTREL_HOME");
  }

  static std::string read(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path home_;
};

std::vector<std::string> identifiers(const std::vector<Domain>& domains) {
  std::vector<std::string> names;
  for (const auto& domain : domains) names.push_back(domain.identifier);
  return names;
}

TEST_F(RegistryTest, KeepsDomainsInTheOrderAdded) {
  DomainRegistry registry(home_ / "FileProvider");
  EXPECT_EQ(registry.domains().value().size(), 0u);
  EXPECT_EQ(registry.add({.identifier = "b", .displayName = "B"}), true);
  EXPECT_EQ(registry.add({.identifier = "a", .displayName = "A"}), true);
  EXPECT_EQ(registry.add({.identifier = "b", .displayName = "Renamed"}), false);
  auto domains = registry.domains().value();
  EXPECT_EQ(identifiers(domains), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(domains[0].displayName, "B");
  EXPECT_TRUE(domains[0].userEnabled);

  EXPECT_EQ(registry.setDisconnected("a", true), true);
  EXPECT_EQ(registry.setDisconnected("zzz", true), false);
  EXPECT_TRUE(registry.domains().value()[1].disconnected);

  auto removed = registry.remove("b").value();
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->displayName, "B");
  EXPECT_EQ(registry.remove("b").value(), std::nullopt);
  EXPECT_EQ(identifiers(registry.domains().value()), (std::vector<std::string>{"a"}));
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
  DomainRegistry registry(home_ / "FileProvider");
  std::vector<std::thread> writers;
  for (int writer = 0; writer < 6; ++writer) {
    writers.emplace_back([&registry, writer] {
      for (int i = 0; i < 15; ++i) {
        std::string name = std::to_string(writer) + "-" + std::to_string(i);
        EXPECT_EQ(registry.add({.identifier = name, .displayName = name}), true);
      }
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(registry.domains().value().size(), 90u);
  // Only the registry and its lock are left: no temporary files behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home_ / "FileProvider"),
                          std::filesystem::directory_iterator()),
            2);
}

TEST_F(RegistryTest, AnUnreadableRegistryIsReportedWithItsCause) {
  DomainRegistry registry(home_ / "FileProvider");
  std::filesystem::create_directories(home_ / "FileProvider");
  // Root reads any file whatever its mode; a loop of links fails for everyone.
  std::filesystem::create_symlink(registry.file(), registry.file());
  auto domains = registry.domains();
  ASSERT_FALSE(domains);
  EXPECT_EQ(domains.error().code, ELOOP);
  EXPECT_NE(domains.error().localizedDescription().find(std::strerror(ELOOP)), std::string::npos)
      << domains.error().localizedDescription();
}

TEST_F(RegistryTest, AnIdentifierWhoseConfigurationNameFitsCanBeWritten) {
  // <id>.json is 255 bytes: the longest name a file can have here.
  const std::string identifier(250, 'd');
  const auto file = home_ / (identifier + ".json");
  ASSERT_TRUE(writeFileAtomically(file, "{}")) << file;
  EXPECT_EQ(read(file), "{}");
  for (const auto& entry : std::filesystem::directory_iterator(home_))
    EXPECT_EQ(entry.path().filename(), file.filename()) << "left behind: " << entry.path();
}

TEST_F(RegistryTest, ADamagedRegistryIsReportedAndNeverOverwritten) {
  DomainRegistry registry(home_ / "FileProvider");
  std::filesystem::create_directories(home_ / "FileProvider");
  std::ofstream(registry.file()) << "{\"domains\": [ trunc";
  EXPECT_FALSE(registry.domains());
  auto added = registry.add({.identifier = "x", .displayName = "X"});
  ASSERT_FALSE(added);
  EXPECT_NE(added.error().localizedDescription().find("damaged"), std::string::npos);
  EXPECT_EQ(read(registry.file()), "{\"domains\": [ trunc");
}

// A member of the wrong type once threw out of the reader and ended the process.
TEST_F(RegistryTest, MembersOfTheWrongTypeReadAsAbsent) {
  DomainRegistry registry(home_ / "FileProvider");
  std::filesystem::create_directories(home_ / "FileProvider");
  std::ofstream(registry.file()) << R"({"domains": [
    {"identifier": "a", "display_name": true, "user_enabled": "no", "disconnected": 1},
    {"identifier": "b", "display_name": ["B"], "user_enabled": false, "disconnected": null},
    {"identifier": 7, "display_name": "skipped"}]})";
  const auto domains = registry.domains();
  ASSERT_TRUE(domains) << domains.error().localizedDescription();
  ASSERT_EQ(identifiers(*domains), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ((*domains)[0].displayName, "");
  EXPECT_TRUE((*domains)[0].userEnabled);
  EXPECT_FALSE((*domains)[0].disconnected);
  EXPECT_FALSE((*domains)[1].userEnabled);
  EXPECT_FALSE((*domains)[1].disconnected);
}

TEST_F(RegistryTest, IdentifiersThatLeaveTheStorageFolderAreRefused) {
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "a/b", "../x", std::string("a\0b", 3)}) {
    EXPECT_FALSE(DomainStorage::forDomain(bad)) << bad;
    std::optional<Error> error;
    addDomain({.identifier = bad}, [&](std::optional<Error> e) { error = e; });
    EXPECT_TRUE(error) << bad;
  }
  EXPECT_EQ(DomainRegistry::system().domains().value().size(), 0u);
  EXPECT_TRUE(DomainStorage::forDomain("..."));
}

struct Removal {
  std::optional<std::filesystem::path> preserved;
  std::optional<Error> error;
};

Removal remove(const std::string& identifier, DomainRemovalMode mode) {
  Removal result;
  removeDomain({.identifier = identifier}, mode, [&](std::optional<std::filesystem::path> path, std::optional<Error> e) {
    result = {path, e};
  });
  return result;
}

TEST_F(RegistryTest, RemovalPreservesUnsentFilesOnlyWhenAsked) {
  auto storage = *DomainStorage::forDomain("d");
  auto registerWithUnsentFile = [&] {
    addDomain({.identifier = "d", .displayName = "D"}, [](std::optional<Error>) {});
    std::filesystem::create_directories(storage.localOnlyDirectory() / "Matter");
    std::ofstream(storage.localOnlyDirectory() / "Matter" / "brief.docx") << "unsent words";
    std::filesystem::create_directories(storage.contentsDirectory());
    std::ofstream(storage.contentsDirectory() / "cached") << "cached";
  };

  registerWithUnsentFile();
  auto kept = remove("d", DomainRemovalMode::preserveDirtyUserData);
  ASSERT_EQ(kept.error, std::nullopt);
  ASSERT_TRUE(kept.preserved);
  EXPECT_EQ(read(*kept.preserved / "Matter" / "brief.docx"), "unsent words");
  EXPECT_FALSE(std::filesystem::exists(storage.root));

  registerWithUnsentFile();
  auto dropped = remove("d", DomainRemovalMode::removeAll);
  EXPECT_EQ(dropped.error, std::nullopt);
  EXPECT_EQ(dropped.preserved, std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(storage.root));

  addDomain({.identifier = "d", .displayName = "D"}, [](std::optional<Error>) {});
  auto nothingToKeep = remove("d", DomainRemovalMode::preserveDirtyUserData);
  EXPECT_EQ(nothingToKeep.error, std::nullopt);
  EXPECT_EQ(nothingToKeep.preserved, std::nullopt);

  auto absent = remove("d", DomainRemovalMode::removeAll);
  ASSERT_TRUE(absent.error);
  EXPECT_TRUE(absent.error->is(FileProviderError::domain, FileProviderError::providerNotFound));
}

}  // namespace
}  // namespace ostrel::fileprovider
