#include "drive/client/service_errors.h"

#include "drive/model/drive_id.h"
#include <nlohmann/json.hpp>

namespace ostrel::drive {

Error errorForStatus(long status, std::string_view body, std::optional<std::string_view> identifier) {
  switch (status) {
    case 401: return FileProviderError::make(FileProviderError::notAuthenticated);
    case 404:
      if (serviceErrorCode(body) == "drive_disabled") return FileProviderError::make(FileProviderError::cannotSynchronize);
      [[fallthrough]];
    case 403:
      if (identifier) return FileProviderError::nonExistentItem(DriveID::item(*identifier).rawValue);
      return FileProviderError::make(FileProviderError::noSuchItem);
    case 410: return FileProviderError::make(FileProviderError::syncAnchorExpired);
    default: return FileProviderError::make(FileProviderError::serverUnreachable);
  }
}

std::optional<std::string> serviceErrorCode(std::string_view body) {
  const auto value = nlohmann::json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
  if (!value.is_object()) return std::nullopt;
  const auto detail = value.find("detail");
  if (detail == value.end() || !detail->is_object()) return std::nullopt;
  const auto code = detail->find("code");
  if (code == detail->end() || !code->is_string()) return std::nullopt;
  return code->get<std::string>();
}

}  // namespace ostrel::drive
