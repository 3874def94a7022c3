#include "drive/extension/write_support.h"

#include "drive/client/drive_refusal.h"
#include "drive/model/drive_log.h"

namespace ostrel::drive {

bool WriteSupport::isEmpty(const std::optional<std::filesystem::path>& contents) {
  if (!contents) return true;
  std::error_code error;
  const auto size = std::filesystem::file_size(*contents, error);
  return error || size == 0;
}

const Error& WriteSupport::awaitingContents() {
  static const Error error{DriveError::domain, DriveError::contentsNotYetAvailable,
                           {{localizedDescriptionKey, "Waiting for the file's contents"}}};
  return error;
}

Error WriteSupport::writeError(const Error& error) {
  if (auto refusal = DriveRefusal::from(error); refusal && refusal->code == "name_conflict") {
    return FileProviderError::make(FileProviderError::filenameCollision);
  }
  if (error.domain == FileProviderError::domain) return error;
  driveLog().error("write failed: %{public}s", {error.localizedDescription()});
  return error;
}

}  // namespace ostrel::drive
