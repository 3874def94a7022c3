#include "tools/reference-service/blob_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "tools/reference-service/ids.h"

namespace ostrel::refsvc {

namespace fs = std::filesystem;

namespace {

std::unexpected<ApiError> fileFailure(std::string_view what, int error) {
  return storageFailure(std::string(what) + ": " + std::strerror(error));
}

Result<void> writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return fileFailure("write", errno);
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return {};
}

}  // namespace

bool isStoredName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-')) return false;
  }
  return true;
}

Result<BlobStore> BlobStore::open(const fs::path& dataDirectory) {
  std::error_code error;
  for (const char* sub : {"blobs", "uploads"}) {
    fs::create_directories(dataDirectory / sub, error);
    if (error) return storageFailure("cannot create " + (dataDirectory / sub).string() + ": " + error.message());
  }
  return BlobStore(dataDirectory);
}

fs::path BlobStore::blobPath(std::string_view blob) const {
  return root_ / "blobs" / std::string(blob);
}

fs::path BlobStore::uploadPath(std::string_view uploadId, bool partial) const {
  return root_ / "uploads" / (std::string(uploadId) + (partial ? ".part" : ""));
}

Result<std::string> BlobStore::create(std::string_view bytes) const {
  std::string name = newUuid();
  UniqueFd fd(::open(blobPath(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!fd) return fileFailure("create blob", errno);
  if (auto written = writeAll(fd.get(), bytes); !written) return std::unexpected(written.error());
  if (!fd.close()) return fileFailure("close blob", errno);
  return name;
}

Result<std::string> BlobStore::adoptUpload(std::string_view uploadId) const {
  if (!isStoredName(uploadId)) return storageFailure("not an upload name");
  std::string name = newUuid();
  std::error_code error;
  fs::rename(uploadPath(uploadId, false), blobPath(name), error);
  if (error) return storageFailure("cannot keep the upload: " + error.message());
  return name;
}

Result<std::string> BlobStore::duplicate(std::string_view blob) const {
  if (!isStoredName(blob)) return storageFailure("not a blob name");
  std::string name = newUuid();
  std::error_code error;
  fs::create_hard_link(blobPath(blob), blobPath(name), error);
  if (error) {
    error.clear();
    fs::copy_file(blobPath(blob), blobPath(name), error);
    if (error) return storageFailure("cannot copy the bytes: " + error.message());
  }
  return name;
}

void BlobStore::remove(std::string_view blob) const {
  if (!isStoredName(blob)) return;
  std::error_code ignored;
  fs::remove(blobPath(blob), ignored);
}

void BlobStore::removeAll(const std::vector<std::string>& blobs) const {
  for (const auto& blob : blobs) remove(blob);
}

Result<BlobStore::Opened> BlobStore::openForReading(std::string_view blob) const {
  if (!isStoredName(blob)) return storageFailure("not a blob name");
  UniqueFd fd(::open(blobPath(blob).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return fileFailure("open blob", errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return fileFailure("stat blob", errno);
  return Opened{std::move(fd), static_cast<uint64_t>(info.st_size)};
}

Result<UniqueFd> BlobStore::createPartialUpload(std::string_view uploadId) const {
  if (!isStoredName(uploadId)) return storageFailure("not an upload name");
  UniqueFd fd(::open(uploadPath(uploadId, true).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return fileFailure("create upload", errno);
  return fd;
}

Result<void> BlobStore::finishUpload(std::string_view uploadId) const {
  if (!isStoredName(uploadId)) return storageFailure("not an upload name");
  std::error_code error;
  fs::rename(uploadPath(uploadId, true), uploadPath(uploadId, false), error);
  if (error) return storageFailure("cannot finish the upload: " + error.message());
  return {};
}

void BlobStore::discardUpload(std::string_view uploadId) const {
  if (!isStoredName(uploadId)) return;
  std::error_code ignored;
  fs::remove(uploadPath(uploadId, true), ignored);
  fs::remove(uploadPath(uploadId, false), ignored);
}

}  // namespace ostrel::refsvc
