#include "drive/shared/drive_domain_config.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/json.h"

namespace ostrel::drive {

std::optional<std::filesystem::path> DriveDomainConfig::url(const std::filesystem::path& container,
                                                           std::string_view domain) {
  if (domain.empty() || domain == "." || domain == ".." || domain.find('/') != std::string_view::npos ||
      domain.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  return container / "domains" / (std::string(domain) + ".json");
}

std::string DriveDomainConfig::encoded() const {
  return json::compact({{"apiBase", apiBase}, {"displayName", displayName}});
}

std::optional<DriveDomainConfig> DriveDomainConfig::decode(std::string_view bytes) {
  const auto value = json::Value::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
  if (!value.is_object()) return std::nullopt;
  const auto apiBase = value.find("apiBase");
  const auto displayName = value.find("displayName");
  if (apiBase == value.end() || !apiBase->is_string() || displayName == value.end() || !displayName->is_string()) {
    return std::nullopt;
  }
  return DriveDomainConfig{apiBase->get<std::string>(), displayName->get<std::string>()};
}

std::string layoutReimportKey(std::string_view domain) {
  return "drive.layoutReimportGeneration." + std::string(domain);
}

}  // namespace ostrel::drive
