#include "drive/model/drive_id.h"

#include <array>
#include <utility>
#include <vector>

#include "platform/foundation/text.h"

namespace ostrel::drive {

namespace {

constexpr std::array<std::string_view, 12> knownPrefixes = {
    "matter:", "folder:", "doc:", "vf:", "ver:", "rlf:", "rlp:", "rl:", "svs:", "save:", "dft:", "dfl:"};
constexpr std::array<std::string_view, 4> filePrefixes = {"ver:", "rl:", "save:", "dfl:"};
constexpr std::array<std::string_view, 6> readOnlyPrefixes = {"matter:", "rlf:", "rlp:", "rl:", "svs:", "save:"};

bool hasAnyPrefix(std::string_view identifier, std::span<const std::string_view> prefixes) {
  for (auto prefix : prefixes) {
    if (identifier.starts_with(prefix)) return true;
  }
  return false;
}

bool isFixedIdentifier(std::string_view identifier) {
  return identifier == DriveID::root || identifier == DriveID::myMatters || identifier == DriveID::adminAll;
}

using WritableKinds = std::vector<std::pair<std::string_view, OperationSet>>;

// Built once; a function-local static is safe under concurrent first use.
const WritableKinds& writableKinds() {
  static const WritableKinds kinds = {
      {"folder:", {"rename", "reparent", "delete", "add_children"}},
      {"doc:", {"rename", "reparent", "delete", "add_children"}},
      {"vf:", {"add_children"}},
      {"ver:", {"write"}},
      {"dft:", {"add_children"}},
      {"dfl:", {"write"}},
  };
  return kinds;
}

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isUUID(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !isHex(text[i])) return false;
  }
  return true;
}

}  // namespace

fileprovider::ItemIdentifier DriveID::item(std::string_view identifier) {
  if (identifier == root) return fileprovider::rootContainerItemIdentifier;
  return {std::string(identifier)};
}

std::string DriveID::wire(const fileprovider::ItemIdentifier& identifier) {
  if (identifier == fileprovider::rootContainerItemIdentifier) return std::string(root);
  return identifier.rawValue;
}

bool DriveID::isKnown(std::string_view identifier) {
  return isFixedIdentifier(identifier) || hasAnyPrefix(identifier, knownPrefixes);
}

bool DriveID::isContainer(std::string_view identifier) {
  return !hasAnyPrefix(identifier, filePrefixes);
}

bool DriveID::isAlwaysReadOnly(std::string_view identifier) {
  return isFixedIdentifier(identifier) || hasAnyPrefix(identifier, readOnlyPrefixes);
}

const OperationSet& DriveID::writes(std::string_view identifier) {
  static const OperationSet none;
  for (const auto& [prefix, operations] : writableKinds()) {
    if (identifier.starts_with(prefix)) return operations;
  }
  return none;
}

std::optional<std::string> DriveID::versionID(std::span<const std::byte> contentVersion) {
  return versionID(std::string_view(reinterpret_cast<const char*>(contentVersion.data()), contentVersion.size()));
}

std::optional<std::string> DriveID::versionID(std::string_view contentVersion) {
  if (!isValidUTF8(contentVersion)) return std::nullopt;
  if (graphemeCount(contentVersion) <= 35) return std::nullopt;
  const std::string head = graphemePrefix(contentVersion, 36);
  if (!isUUID(head)) return std::nullopt;
  std::string out(head);
  for (char& c : out) c = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

bool DriveExclusions::isExcluded(std::string_view filename) {
  if (filename.starts_with("~$")) return true;
  return filename.starts_with("~WRL") && lowercased(filename).ends_with(".tmp");
}

}  // namespace ostrel::drive
