#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "platform/fileprovider/item_identifier.h"

namespace ostrel::drive {

// Operation words, as the service lists them in an item's capabilities.
using OperationSet = std::set<std::string, std::less<>>;

// The identifier grammar: the prefix of an identifier alone decides whether
// the item is a container, whether it is read-only and which writes the
// drive will attempt on it. Identifiers compare case-sensitively.
struct DriveID {
  static constexpr std::string_view root = "root";
  static constexpr std::string_view myMatters = "my-matters";
  static constexpr std::string_view adminAll = "admin-all";

  // Service identifier -> framework identifier ("root" is the root container).
  static fileprovider::ItemIdentifier item(std::string_view identifier);
  // Framework identifier -> service identifier.
  static std::string wire(const fileprovider::ItemIdentifier& identifier);

  static bool isKnown(std::string_view identifier);
  static bool isContainer(std::string_view identifier);
  static bool isAlwaysReadOnly(std::string_view identifier);
  // The operation words the identifier's prefix admits; empty when none.
  static const OperationSet& writes(std::string_view identifier);
  static bool isWritable(std::string_view identifier) { return !writes(identifier).empty(); }

  // The stored version a content version names: its first 36 characters
  // when they are a UUID, lower-cased; nothing otherwise.
  static std::optional<std::string> versionID(std::span<const std::byte> contentVersion);
  static std::optional<std::string> versionID(std::string_view contentVersion);
};

// The build-time switch of every write path.
struct DriveWrites {
  static constexpr bool enabled = true;
};

// Local scratch files that are never uploaded as new documents.
struct DriveExclusions {
  static bool isExcluded(std::string_view filename);
};

}  // namespace ostrel::drive
