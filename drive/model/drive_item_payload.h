#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/date.h"

namespace ostrel::drive {

// One item as the service describes it.
struct DriveItemPayload {
  enum class Kind { container, file };

  std::string identifier;
  std::string parentIdentifier;
  Kind kind = Kind::file;
  std::string filename;
  std::optional<int64_t> size;
  std::string contentVersion;
  std::string metadataVersion;
  std::optional<Date> createdAt;
  std::optional<Date> modifiedAt;
  std::vector<std::string> capabilities;
  std::optional<int64_t> childCount;
  std::optional<std::string> versionLabel;
  std::optional<std::string> comment;
  std::optional<std::vector<std::string>> tags;

  friend bool operator==(const DriveItemPayload&, const DriveItemPayload&) = default;
};

std::optional<DriveItemPayload::Kind> kindFromRawValue(std::string_view raw);
std::string_view rawValue(DriveItemPayload::Kind kind);

}  // namespace ostrel::drive
