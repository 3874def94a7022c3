#include "drive/client/drive_api.h"
#include "drive/client/service_errors.h"

#include <chrono>

#include "drive/model/drive_id.h"
#include "drive/model/drive_log.h"
#include "platform/foundation/json_decoding.h"

namespace ostrel::drive {

namespace {

constexpr auto requestTimeout = std::chrono::seconds(60);

URLSessionConfiguration sessionConfiguration() {
  auto configuration = URLSessionConfiguration::ephemeral();
  configuration.timeoutIntervalForRequest = std::chrono::seconds(30);
  return configuration;
}

}  // namespace

DriveAPI::DriveAPI(URL base, std::shared_ptr<TokenSource> tokens)
    : base_(std::move(base)), tokens_(std::move(tokens)), session_(sessionConfiguration()) {}

URL DriveAPI::url(const std::vector<std::string>& path, const QueryItems& query) const {
  URL out = base_.appendingPathSegment("api").appendingPathSegment("drive");
  for (const auto& segment : path) out = out.appendingPathSegment(segment);
  if (!query.empty()) out = out.withQueryItems(query);
  return out;
}

DriveResult<std::string> DriveAPI::perform(const Request& request, std::stop_token stop) const {
  URLRequest http;
  http.url = url(request.path, request.query).string();
  http.method = request.method;
  http.timeout = requestTimeout;
  std::vector<std::pair<std::string, std::string>> headers = {{"Accept", "application/json"}};
  if (request.body) {
    http.body = request.body;
    headers.emplace_back("Content-Type", "application/json");
  }
  const std::string firstSegment = request.path.empty() ? std::string() : request.path.front();

  bool mayRetry = true;
  while (true) {
    auto token = tokens_->token(stop);
    if (!token) return std::unexpected(token.error());
    http.headers = headers;
    http.headers.emplace_back("Authorization", "Bearer " + *token);

    auto response = session_.data(http, stop);
    if (!response) return std::unexpected(transportError(response.error()));
    const long status = response->status;

    if (mayRetry && status == 401) {
      tokens_->invalidate();
      mayRetry = false;
      continue;
    }
    if (status >= 200 && status <= 299) return std::move(response->body);

    driveLog().error("%{public}s %{public}s status=%{public}ld", {request.method, firstSegment, status});
    if (request.refusals && status != 404 && status != 401) {
      return std::unexpected(DriveRefusal{status, serviceErrorCode(response->body)}.asError());
    }
    return std::unexpected(errorForStatus(status, response->body, request.identifier));
  }
}

std::optional<Date> DriveAPI::parseDate(std::string_view text) {
  return ostrel::parseDate(text);
}

Error DriveAPI::transportError(const Error& failure) {
  if (failure.is(URLError::domain, URLError::cancelled) || failure.is(CocoaError::domain, CocoaError::userCancelled)) {
    return CocoaError::make(CocoaError::userCancelled);
  }
  return FileProviderError::make(FileProviderError::serverUnreachable);
}

}  // namespace ostrel::drive
