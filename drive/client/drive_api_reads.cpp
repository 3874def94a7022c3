#include "drive/client/drive_api_send.h"

namespace ostrel::drive {

DriveResult<DriveItemPayload> DriveAPI::item(std::string_view id, std::stop_token stop) const {
  return send<DriveItemPayload>({.path = {"items", std::string(id)}, .identifier = std::string(id)}, std::move(stop));
}

DriveResult<DrivePage> DriveAPI::children(std::string_view of, const std::optional<std::string>& page, int limit,
                                          std::stop_token stop) const {
  QueryItems query = {{"limit", std::to_string(limit)}};
  if (page) query.emplace_back("page", *page);
  return send<DrivePage>(
      {.path = {"containers", std::string(of), "items"}, .query = std::move(query), .identifier = std::string(of)},
      std::move(stop));
}

DriveResult<DriveChanges> DriveAPI::changes(std::string_view from, int limit, std::stop_token stop) const {
  return send<DriveChanges>(
      {.path = {"changes"}, .query = {{"anchor", std::string(from)}, {"limit", std::to_string(limit)}}},
      std::move(stop));
}

DriveResult<std::string> DriveAPI::head(std::stop_token stop) const {
  auto head = send<DriveHead>({.path = {"changes", "head"}}, std::move(stop));
  if (!head) return std::unexpected(head.error());
  return std::move(head->anchor);
}

}  // namespace ostrel::drive
