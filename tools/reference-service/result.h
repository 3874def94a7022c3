#pragma once

#include <expected>
#include <string>
#include <utility>

namespace ostrel::refsvc {

// A refusal or failure as the service answers it: the HTTP status, the
// machine-readable code and a human text for the error body.
struct ApiError {
  int status = 500;
  std::string code;
  std::string message;
};

template <class T>
using Result = std::expected<T, ApiError>;

inline std::unexpected<ApiError> fail(int status, std::string code, std::string message) {
  return std::unexpected(ApiError{status, std::move(code), std::move(message)});
}

inline std::unexpected<ApiError> notFound(const std::string& id) {
  return fail(404, "not_found", "No item " + id + ".");
}

inline std::unexpected<ApiError> forbidden(std::string message) {
  return fail(403, "forbidden", std::move(message));
}

inline std::unexpected<ApiError> storageFailure(std::string message) {
  return fail(500, "storage_error", std::move(message));
}

}  // namespace ostrel::refsvc
