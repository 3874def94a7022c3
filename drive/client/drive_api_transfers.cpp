#include <cerrno>
#include <system_error>

#include "drive/client/drive_api_send.h"
#include "platform/foundation/uuid.h"

namespace ostrel::drive {

namespace {
constexpr auto putTimeout = std::chrono::seconds(60);
}

DriveResult<DriveContent> DriveAPI::content(std::string_view id, std::stop_token stop) const {
  return send<DriveContent>({.path = {"items", std::string(id), "content-url"},
                             .method = "POST",
                             .body = "{}",
                             .identifier = std::string(id)},
                            std::move(stop));
}

DriveResult<std::filesystem::path> DriveAPI::download(const URL& url, const std::filesystem::path& directory,
                                                      std::stop_token stop,
                                                      const URLSession::DownloadObserver& observer) const {
  // A transfer address is pre-authorised: no token, no Accept header.
  auto response = session_.download({.url = url.string()}, directory, std::move(stop), observer);
  if (!response) return std::unexpected(transportError(response.error()));

  std::error_code ignored;
  if (response->status != 200) {
    std::filesystem::remove(response->file, ignored);
    driveLog().error("download failed status=%{public}ld", {response->status});
    return std::unexpected(FileProviderError::make(FileProviderError::serverUnreachable));
  }
  const auto destination = directory / makeUUIDString();
  std::error_code moved;
  std::filesystem::rename(response->file, destination, moved);
  if (moved) {
    std::filesystem::remove(response->file, ignored);
    return std::unexpected(POSIXError::make(moved.value()));
  }
  return destination;
}

DriveResult<std::string> DriveAPI::upload(const std::filesystem::path& file, std::string_view filename,
                                          std::string_view item, std::stop_token stop) const {
  std::error_code sizeError;
  const auto size = std::filesystem::file_size(file, sizeError);
  json::Value request = {{"item", item}, {"filename", filename}};
  request["size"] = sizeError ? json::Value(nullptr) : json::Value(size);
  const std::string body = json::compact(request);

  // An expired slot (403) is asked for once more; no other retry.
  for (long attempt = 0;; ++attempt) {
    auto slot =
        send<DriveUpload>({.path = {"uploads"}, .method = "POST", .body = body, .refusals = true}, stop);
    if (!slot) return std::unexpected(slot.error());

    URLRequest put{.url = slot->url.string(), .method = "PUT", .timeout = putTimeout};
    for (const auto& [name, value] : slot->headers) put.headers.emplace_back(name, value);
    auto response = session_.upload(put, file, stop);
    if (!response) return std::unexpected(transportError(response.error()));

    const long status = response->status;
    if (status >= 200 && status <= 299) return std::move(slot->uploadId);
    driveLog().error("upload PUT failed status=%{public}ld attempt=%{public}ld", {status, attempt});
    if (status == 403 && attempt == 0) continue;
    return std::unexpected(DriveRefusal{status, status == 403 ? "upload_expired" : "upload_failed"}.asError());
  }
}

}  // namespace ostrel::drive
