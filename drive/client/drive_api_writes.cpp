#include "drive/client/drive_api_send.h"

namespace ostrel::drive {

DriveResult<DriveItemPayload> DriveAPI::saveDraft(std::string_view id, std::string_view uploadID,
                                                  const std::optional<std::string>& baseVersionID,
                                                  std::stop_token stop) const {
  // No base version is sent as null, not left out.
  json::Value body = {{"upload_id", uploadID},
                      {"base_version_id", baseVersionID ? json::Value(*baseVersionID) : json::Value(nullptr)}};
  return send<DriveItemPayload>({.path = {"items", std::string(id), "draft"},
                                 .method = "PUT",
                                 .body = json::compact(body),
                                 .identifier = std::string(id),
                                 .refusals = true},
                                std::move(stop));
}

DriveResult<DriveItemPayload> DriveAPI::continueFromSave(std::string_view id, std::stop_token stop) const {
  return send<DriveItemPayload>({.path = {"items", std::string(id), "continue"},
                                 .method = "POST",
                                 .body = "{}",
                                 .identifier = std::string(id),
                                 .refusals = true},
                                std::move(stop));
}

DriveResult<DriveWebUrl> DriveAPI::webUrl(std::string_view id, std::stop_token stop) const {
  return send<DriveWebUrl>({.path = {"items", std::string(id), "web-url"},
                            .method = "POST",
                            .body = "{}",
                            .identifier = std::string(id),
                            .refusals = true},
                           std::move(stop));
}

DriveResult<DriveCreated> DriveAPI::create(std::string_view parent, std::string_view filename,
                                           const std::optional<std::string>& uploadID, std::stop_token stop) const {
  json::Value body = {{"parent", parent}, {"filename", filename}};
  if (uploadID) {
    body["upload_id"] = *uploadID;
  } else {
    body["kind"] = "container";
  }
  // No identifier: a 404 here is the plain no-such-item error.
  return send<DriveCreated>({.path = {"items"}, .method = "POST", .body = json::compact(body), .refusals = true},
                            std::move(stop));
}

DriveResult<DriveItemPayload> DriveAPI::patch(std::string_view id, const std::optional<std::string>& filename,
                                              const std::optional<std::string>& parent, std::stop_token stop) const {
  json::Value body = json::Value::object();
  if (filename) body["filename"] = *filename;
  if (parent) body["parent"] = *parent;
  return send<DriveItemPayload>({.path = {"items", std::string(id)},
                                 .method = "PATCH",
                                 .body = json::compact(body),
                                 .identifier = std::string(id),
                                 .refusals = true},
                                std::move(stop));
}

DriveResult<void> DriveAPI::deleteItem(std::string_view id, std::stop_token stop) const {
  auto done = send<Empty>(
      {.path = {"items", std::string(id)}, .method = "DELETE", .identifier = std::string(id), .refusals = true},
      std::move(stop));
  if (!done) return std::unexpected(done.error());
  return {};
}

DriveResult<DriveItemPayload> DriveAPI::newestVersion(std::string_view of, std::stop_token stop) const {
  auto page = children(of, std::nullopt, 1, std::move(stop));
  if (!page) return std::unexpected(page.error());
  if (page->items.empty()) return std::unexpected(FileProviderError::make(FileProviderError::noSuchItem));
  return std::move(page->items.front());
}

}  // namespace ostrel::drive
