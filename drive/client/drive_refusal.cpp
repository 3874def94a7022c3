#include "drive/client/drive_refusal.h"

namespace ostrel::drive {

namespace {
constexpr const char* refusalCodeKey = "OstrelRefusalCode";
}

std::string DriveRefusal::localizedDescription() const {
  return "Ostrel refused the change (" + (code ? *code : std::to_string(status)) + ")";
}

Error DriveRefusal::asError() const {
  Error error{driveRefusalDomain, status, {{localizedDescriptionKey, localizedDescription()}}};
  if (code) error.userInfo[refusalCodeKey] = *code;
  return error;
}

std::optional<DriveRefusal> DriveRefusal::from(const Error& error) {
  if (error.domain != driveRefusalDomain) return std::nullopt;
  DriveRefusal refusal{error.code, std::nullopt};
  if (auto it = error.userInfo.find(refusalCodeKey); it != error.userInfo.end()) refusal.code = it->second;
  return refusal;
}

}  // namespace ostrel::drive
