#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::drive {

// What the helper's `register` writes for a domain and the extension reads
// when the system creates it: the service to talk to and the drive's name.
struct DriveDomainConfig {
  std::string apiBase;
  std::string displayName;

  // <container>/domains/<domain>.json. Nothing for a domain identifier that
  // would place the file elsewhere (empty, ".", "..", or holding "/" or NUL).
  static std::optional<std::filesystem::path> url(const std::filesystem::path& container, std::string_view domain);

  // {"apiBase":"…","displayName":"…"}: compact, no trailing line feed.
  std::string encoded() const;
  // Both keys required, as strings; other keys are ignored.
  static std::optional<DriveDomainConfig> decode(std::string_view bytes);

  friend bool operator==(const DriveDomainConfig&, const DriveDomainConfig&) = default;
};

// The newest layout generation whose whole tree a domain must have imported.
inline constexpr int driveLayoutReimportGeneration = 1;
// The user-defaults key holding a domain's imported layout generation.
std::string layoutReimportKey(std::string_view domain);

}  // namespace ostrel::drive
