#pragma once

// Small helpers the parts of the domain file system share.

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/fileprovider/item.h"
#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

inline constexpr const char* mountLogSubsystem = "local.ostrel.fileproviderd";

inline std::string contentVersionOf(const Item& item) {
  auto version = item.itemVersion();
  return version ? version->contentVersion : std::string();
}

inline ItemVersion versionOf(const Item& item) {
  return item.itemVersion().value_or(ItemVersion{});
}

// The size the service gives, when it can mean one: a size below 0 or past
// 2^50 bytes (a petabyte) is unknown.
inline std::optional<int64_t> believableSize(const Item& item) {
  auto size = item.documentSize();
  if (!size || *size < 0 || *size > (int64_t{1} << 50)) return std::nullopt;
  return size;
}

inline bool awaitsContents(const Error& error) {
  return error.is(DriveError::domain, DriveError::contentsNotYetAvailable);
}

// Whether a send that failed so may go through later: the service could not
// be reached, did not answer in time, or failed on its side.
inline bool worthRetrying(const Error& error) {
  if (error.domain == FileProviderError::domain)
    return error.code == FileProviderError::serverUnreachable || error.code == FileProviderError::notAuthenticated;
  if (error.domain == POSIXError::domain) return error.code == ETIMEDOUT;
  if (error.domain == CocoaError::domain) return error.code == CocoaError::userCancelled;
  if (error.domain == driveRefusalDomain) return error.code >= 500 || error.code == 408 || error.code == 429;
  return false;
}

inline std::string describe(const Error& error) {
  return error.domain + " " + std::to_string(error.code) + ": " + error.localizedDescription();
}

// Copies a file through a fresh descriptor pair; no whole-file buffer.
inline bool copyFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  return !error;
}

}  // namespace ostrel::fileprovider
