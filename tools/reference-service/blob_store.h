#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/reference-service/result.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::refsvc {

// Document bytes as files under the data directory: blobs/<uuid> for kept
// bytes, uploads/<id>.part while an upload arrives and uploads/<id> once it
// is complete. Names come from the store, never from a request; anything
// that is not one of our own names is refused before it reaches a path.
class BlobStore {
 public:
  static Result<BlobStore> open(const std::filesystem::path& dataDirectory);

  // Writes new bytes (demo data) and returns the blob's name.
  Result<std::string> create(std::string_view bytes) const;
  // Makes a finished upload a blob and returns the blob's name.
  Result<std::string> adoptUpload(std::string_view uploadId) const;
  // A second name for the same bytes; blobs never change once written.
  Result<std::string> duplicate(std::string_view blob) const;
  void remove(std::string_view blob) const;
  void removeAll(const std::vector<std::string>& blobs) const;

  struct Opened {
    UniqueFd fd;
    uint64_t size = 0;
  };
  Result<Opened> openForReading(std::string_view blob) const;

  // Receiving an upload.
  Result<UniqueFd> createPartialUpload(std::string_view uploadId) const;
  Result<void> finishUpload(std::string_view uploadId) const;
  void discardUpload(std::string_view uploadId) const;

 private:
  explicit BlobStore(std::filesystem::path root) : root_(std::move(root)) {}
  std::filesystem::path blobPath(std::string_view blob) const;
  std::filesystem::path uploadPath(std::string_view uploadId, bool partial) const;

  std::filesystem::path root_;
};

// Our own names: lower-case hex digits and dashes only.
bool isStoredName(std::string_view name);

}  // namespace ostrel::refsvc
