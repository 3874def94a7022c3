#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"

namespace ostrel {

// A property list read from XML or binary form (Info.plist, entitlements,
// user-defaults suites). Read-only; copies share the parsed tree.
class PropertyList {
 public:
  static std::expected<PropertyList, Error> parse(std::string_view bytes);
  static std::expected<PropertyList, Error> readFile(const std::filesystem::path& file);

  // Values under a key of the root dictionary; nothing when the root is not a
  // dictionary, the key is missing or the value has another type.
  std::optional<std::string> stringForKey(std::string_view key) const;
  std::optional<std::vector<std::string>> stringArrayForKey(std::string_view key) const;
  std::optional<int64_t> integerForKey(std::string_view key) const;
  std::optional<bool> boolForKey(std::string_view key) const;
  // A nested dictionary, as a property list of its own.
  std::optional<PropertyList> dictionaryForKey(std::string_view key) const;

 private:
  struct Tree;
  PropertyList(std::shared_ptr<const Tree> tree, void* node) : tree_(std::move(tree)), node_(node) {}
  void* valueForKey(std::string_view key) const;

  std::shared_ptr<const Tree> tree_;
  void* node_;  // the dictionary this list stands for, inside tree_
};

// The binary property list whose root is the given string ("bplist00…").
std::expected<std::string, Error> binaryPropertyListOfString(std::string_view text);

}  // namespace ostrel
