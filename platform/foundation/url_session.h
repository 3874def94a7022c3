#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"

namespace ostrel {

struct URLRequest {
  std::string url;
  std::string method = "GET";
  std::vector<std::pair<std::string, std::string>> headers;
  std::optional<std::string> body;
  // Longest wait for the next byte; the session's default when unset.
  std::optional<std::chrono::milliseconds> timeout;
};

struct HTTPResponse {
  long status = 0;  // 0 when the answer was not HTTP
  std::string body;
};

struct DownloadResponse {
  long status = 0;
  // The bytes, in a temporary file inside the requested directory; the
  // caller moves it to its place or removes it.
  std::filesystem::path file;
};

struct URLSessionConfiguration {
  // Longest wait for the next byte, for requests that set no time-out.
  std::chrono::milliseconds timeoutIntervalForRequest{std::chrono::seconds(60)};
  // Bodies read into memory larger than this fail (NSURLErrorDataLengthExceedsMaximum).
  size_t maximumResponseBytes = 32 * 1024 * 1024;

  // No cookies, no cache, no stored credentials (the only kind here).
  static URLSessionConfiguration ephemeral() { return {}; }
};

// HTTP requests that block the calling task until they finish. Cancelling
// the stop token ends a request at once with NSURLErrorCancelled. Failures
// are errors of the NSURLErrorDomain; HTTP statuses are not failures.
// Connections are kept and shared between concurrent requests.
class URLSession {
 public:
  explicit URLSession(URLSessionConfiguration configuration = URLSessionConfiguration::ephemeral());
  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  // Told, as a successful answer's body arrives, which file it is written to
  // and how many bytes are in it; the bytes are there for other readers.
  using DownloadObserver = std::function<void(const std::filesystem::path& file, uint64_t bytes)>;

  std::expected<HTTPResponse, Error> data(const URLRequest& request, std::stop_token stop) const;
  // Streams the answer's body to a new file inside `directory` as it arrives.
  // On failure nothing is left behind.
  std::expected<DownloadResponse, Error> download(const URLRequest& request, const std::filesystem::path& directory,
                                                  std::stop_token stop, const DownloadObserver& observer = {}) const;
  // Streams the request body from `file` as it goes (request.body is ignored).
  std::expected<HTTPResponse, Error> upload(const URLRequest& request, const std::filesystem::path& file,
                                            std::stop_token stop) const;

  const URLSessionConfiguration& configuration() const { return configuration_; }

 private:
  class Shared;
  URLSessionConfiguration configuration_;
  std::unique_ptr<Shared> shared_;
};

}  // namespace ostrel
