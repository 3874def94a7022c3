#include "platform/fileprovider/fuse/errno_mapping.h"

#include <cerrno>

namespace ostrel::fileprovider {

namespace {

int fileProviderErrno(long code) {
  switch (code) {
    case FileProviderError::notAuthenticated:
      return EACCES;
    case FileProviderError::filenameCollision:
      return EEXIST;
    case FileProviderError::noSuchItem:
      return ENOENT;
    case FileProviderError::deletionRejected:
    case FileProviderError::excludedFromSync:
      return EPERM;
    case FileProviderError::serverUnreachable:
    case FileProviderError::syncAnchorExpired:
    case FileProviderError::cannotSynchronize:
    default:
      return EIO;
  }
}

}  // namespace

int errnoForError(const Error& error) {
  if (error.domain == FileProviderError::domain) return fileProviderErrno(error.code);
  if (error.domain == CocoaError::domain) {
    if (error.code == CocoaError::featureUnsupported) return ENOTSUP;
    if (error.code == CocoaError::userCancelled) return EINTR;
    return EIO;
  }
  if (error.domain == URLError::domain && error.code == URLError::cancelled) return EINTR;
  if (error.domain == POSIXError::domain && error.code > 0) return static_cast<int>(error.code);
  return EIO;
}

}  // namespace ostrel::fileprovider
