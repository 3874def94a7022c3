#pragma once

// Small helpers the parts of the domain file system share.

#include <filesystem>
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

inline bool awaitsContents(const Error& error) {
  return error.is(DriveError::domain, DriveError::contentsNotYetAvailable);
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
