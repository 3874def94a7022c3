#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace ostrel {

// NSUserDefaults initWithSuiteName: a suite shared by the programs of one
// application group, kept as a property list in the group's container:
// <container>/Library/Preferences/<suite>.plist. Several processes may write
// the same suite at once; each write changes only its own key.
class UserDefaults {
 public:
  // Nothing when the suite cannot be opened: the name is not a plain file
  // name, or the group has no container.
  static std::optional<UserDefaults> suite(std::string_view suiteName);

  // 0 when the key is missing, holds another type, or the file cannot be read.
  int64_t integerForKey(std::string_view key) const;
  // Read, change, write back under an exclusive lock; the new file replaces
  // the old one whole, so a reader never meets half a file.
  std::expected<void, Error> setInteger(int64_t value, std::string_view key);

  const std::filesystem::path& file() const { return file_; }

 private:
  explicit UserDefaults(std::filesystem::path file) : file_(std::move(file)) {}
  std::filesystem::path file_;
};

}  // namespace ostrel
