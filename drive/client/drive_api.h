#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "drive/client/drive_records.h"
#include "drive/client/drive_refusal.h"
#include "drive/client/token_source.h"
#include "drive/model/drive_item_payload.h"
#include "platform/foundation/error.h"
#include "platform/foundation/url.h"
#include "platform/foundation/url_session.h"

namespace ostrel::drive {

template <class T>
using DriveResult = std::expected<T, Error>;

// The document service's HTTP/JSON client: every call asks the token source
// for a token, retries once after a 401 with a fresh one, and maps the
// answer to a value, a refusal or a file-provider error. Calls block the
// calling task; requesting `stop` ends them with the Cocoa cancelled error.
// Immutable after construction and safe to share between threads.
class DriveAPI {
 public:
  static constexpr int maxPageSize = 500;

  DriveAPI(URL base, std::shared_ptr<TokenSource> tokens);

  const URL& base() const { return base_; }

  // Reads. None of them takes refusals.
  DriveResult<DriveItemPayload> item(std::string_view id, std::stop_token stop) const;
  DriveResult<DrivePage> children(std::string_view of, const std::optional<std::string>& page, int limit,
                                  std::stop_token stop) const;
  DriveResult<DriveChanges> changes(std::string_view from, int limit, std::stop_token stop) const;
  // The current end of the change feed.
  DriveResult<std::string> head(std::stop_token stop) const;

  // Transfers. Bytes go to and from the service's transfer addresses,
  // streamed, and never with the partner's token.
  DriveResult<DriveContent> content(std::string_view id, std::stop_token stop) const;
  // Fetches `url` into `directory` under a fresh upper-case UUID name;
  // `observer` hears of the bytes as they arrive (see URLSession::download).
  DriveResult<std::filesystem::path> download(const URL& url, const std::filesystem::path& directory,
                                              std::stop_token stop,
                                              const URLSession::DownloadObserver& observer = {}) const;
  // Puts the file to a fresh upload slot; answers the upload identifier.
  DriveResult<std::string> upload(const std::filesystem::path& file, std::string_view filename,
                                  std::string_view item, std::stop_token stop) const;

  // Writes. All take refusals except newestVersion.
  DriveResult<DriveItemPayload> saveDraft(std::string_view id, std::string_view uploadID,
                                          const std::optional<std::string>& baseVersionID,
                                          std::stop_token stop) const;
  DriveResult<DriveItemPayload> continueFromSave(std::string_view id, std::stop_token stop) const;
  DriveResult<DriveWebUrl> webUrl(std::string_view id, std::stop_token stop) const;
  // A document from an upload, or a folder without one.
  DriveResult<DriveCreated> create(std::string_view parent, std::string_view filename,
                                   const std::optional<std::string>& uploadID, std::stop_token stop) const;
  DriveResult<DriveItemPayload> patch(std::string_view id, const std::optional<std::string>& filename,
                                      const std::optional<std::string>& parent, std::stop_token stop) const;
  DriveResult<void> deleteItem(std::string_view id, std::stop_token stop) const;
  // The first child of a document: the service lists versions newest first.
  DriveResult<DriveItemPayload> newestVersion(std::string_view of, std::stop_token stop) const;

  static std::optional<Date> parseDate(std::string_view text);

 private:
  struct Request {
    std::vector<std::string> path;
    QueryItems query;
    std::string method = "GET";
    std::optional<std::string> body;
    std::optional<std::string> identifier;
    bool refusals = false;
  };
  struct Empty {};

  URL url(const std::vector<std::string>& path, const QueryItems& query) const;
  // The body of a 2xx answer, or the mapped failure.
  DriveResult<std::string> perform(const Request& request, std::stop_token stop) const;
  template <class T>
  DriveResult<T> send(const Request& request, std::stop_token stop) const;
  static Error transportError(const Error& failure);

  URL base_;
  std::shared_ptr<TokenSource> tokens_;
  URLSession session_;
};

}  // namespace ostrel::drive
