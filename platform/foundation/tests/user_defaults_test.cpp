#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/property_list.h"
#include "platform/foundation/property_list_writer.h"
#include "platform/foundation/user_defaults.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

// A private $OSTREL_HOME for the test.
class UserDefaultsTest : public ::testing::Test {
 protected:
  UserDefaultsTest() {
    std::string pattern = (fs::temp_directory_path() / "ostrel-defaults-XXXXXX").string();
    home_ = ::mkdtemp(pattern.data());
    if (const char* old = std::getenv("OSTREL_HOME")) saved_ = old;
    ::setenv("OSTREL_HOME", home_.c_str(), 1);
  }
  ~UserDefaultsTest() override {
    if (saved_) {
      ::setenv("OSTREL_HOME", saved_->c_str(), 1);
    } else {
      ::unsetenv("OSTREL_HOME");
    }
    fs::remove_all(home_);
  }
  fs::path home_;
  std::optional<std::string> saved_;
};

constexpr const char* group = "TEAM.local.ostrel.desktop";

TEST_F(UserDefaultsTest, AGroupSuiteLivesInTheGroupContainerAndKeepsOtherKeys) {
  auto defaults = UserDefaults::suite(group);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->file(), home_ / "Group Containers" / group / "Library" / "Preferences" / (std::string(group) + ".plist"));
  EXPECT_EQ(defaults->integerForKey("drive.layoutReimportGeneration.a"), 0);

  // Another program wrote keys of its own, of other types.
  MutablePropertyList other;
  other.setString("theme", "dark");
  other.setInteger("drive.layoutReimportGeneration.b", 7);
  std::ofstream(defaults->file(), std::ios::binary) << *other.serialized(PropertyListFormat::xml);

  ASSERT_TRUE(defaults->setInteger(1, "drive.layoutReimportGeneration.a"));
  ASSERT_TRUE(defaults->setInteger(-3, "negative"));
  auto reopened = UserDefaults::suite(group);
  EXPECT_EQ(reopened->integerForKey("drive.layoutReimportGeneration.a"), 1);
  EXPECT_EQ(reopened->integerForKey("drive.layoutReimportGeneration.b"), 7);
  EXPECT_EQ(reopened->integerForKey("negative"), -3);
  EXPECT_EQ(reopened->integerForKey("theme"), 0) << "a string is no integer";
  EXPECT_EQ(PropertyList::readFile(defaults->file())->stringForKey("theme"), "dark");

  // Nothing but the suite and its lock remain beside it.
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(defaults->file().parent_path())) ++files;
  EXPECT_EQ(files, 2u);
}

TEST_F(UserDefaultsTest, ADamagedSuiteReadsAsEmptyAndIsReplacedByTheNextWrite) {
  auto defaults = UserDefaults::suite(group);
  ASSERT_TRUE(defaults);
  std::ofstream(defaults->file()) << "<plist><dict><key>broken";
  EXPECT_EQ(defaults->integerForKey("k"), 0);
  ASSERT_TRUE(defaults->setInteger(2, "k"));
  EXPECT_EQ(defaults->integerForKey("k"), 2);
}

TEST_F(UserDefaultsTest, SuitesThatCannotBeOpened) {
  for (const char* name : {"", ".", "..", "a/b"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(UserDefaults::suite(name));
  }
}

// Each writer opens the lock file itself, so writers on threads exclude one
// another exactly as writers in separate processes do.
TEST_F(UserDefaultsTest, ConcurrentWritersLoseNoKey) {
  constexpr int writers = 4;
  constexpr int keysEach = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int writer = 0; writer < writers; ++writer) {
    threads.emplace_back([&, writer] {
      auto defaults = UserDefaults::suite(group);
      for (int key = 0; key < keysEach; ++key) {
        if (!defaults || !defaults->setInteger(key + 1, "w" + std::to_string(writer) + "." + std::to_string(key))) {
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  auto defaults = UserDefaults::suite(group);
  for (int writer = 0; writer < writers; ++writer) {
    for (int key = 0; key < keysEach; ++key) {
      EXPECT_EQ(defaults->integerForKey("w" + std::to_string(writer) + "." + std::to_string(key)), key + 1);
    }
  }
}

}  // namespace
}  // namespace ostrel
