#pragma once

#include <map>
#include <string>

namespace ostrel {

// The platform's error value: a domain, a code and a user-info dictionary.
// Errors travel as values (std::expected) and never as exceptions.
struct Error {
  std::string domain;
  long code = 0;
  std::map<std::string, std::string> userInfo;

  // The user-info entry under localizedDescriptionKey, or a generic text
  // naming the domain and code, as the platform words it.
  std::string localizedDescription() const;

  bool is(std::string_view errorDomain, long errorCode) const {
    return domain == errorDomain && code == errorCode;
  }
  friend bool operator==(const Error&, const Error&) = default;
};

inline constexpr const char* localizedDescriptionKey = "NSLocalizedDescription";

namespace FileProviderError {
inline constexpr const char* domain = "NSFileProviderErrorDomain";
inline constexpr const char* nonExistentItemIdentifierKey = "NSFileProviderErrorNonExistentItemIdentifier";

enum Code : long {
  notAuthenticated = -1000,
  filenameCollision = -1001,
  syncAnchorExpired = -1002,  // also the page-expired error
  serverUnreachable = -1004,
  noSuchItem = -1005,
  deletionRejected = -1006,
  providerNotFound = -2001,  // no file provider runs for the domain
  cannotSynchronize = -2005,
  excludedFromSync = -2010,
};

// A file-provider error with an empty user-info dictionary, or with the
// given localized description.
Error make(Code code);
Error make(Code code, std::string description);
// The framework's error for a named item that does not exist (code -1005
// carrying the item identifier).
Error nonExistentItem(const std::string& itemIdentifier);
}  // namespace FileProviderError

namespace CocoaError {
inline constexpr const char* domain = "NSCocoaErrorDomain";
enum Code : long {
  userCancelled = 3072,
  featureUnsupported = 3328,
};
Error make(Code code);
}  // namespace CocoaError

// Failures of the URL loading system, before the drive maps them.
namespace URLError {
inline constexpr const char* domain = "NSURLErrorDomain";
enum Code : long {
  unknown = -1,
  cancelled = -999,
  badURL = -1000,
  timedOut = -1001,
  unsupportedURL = -1002,
  cannotFindHost = -1003,
  cannotConnectToHost = -1004,
  networkConnectionLost = -1005,
  badServerResponse = -1011,
  dataLengthExceedsMaximum = -1103,
  secureConnectionFailed = -1200,
  cannotCreateFile = -3000,
  cannotOpenFile = -3001,
  cannotWriteToFile = -3003,
};
Error make(Code code, std::string description);
}  // namespace URLError

// The drive extension's own domain.
namespace DriveError {
inline constexpr const char* domain = "local.ostrel.drive";
enum Code : long {
  contentsNotYetAvailable = 1,
};
}  // namespace DriveError

// The domain of changes the document service refused; the code is the HTTP status.
inline constexpr const char* driveRefusalDomain = "local.ostrel.drive.refusal";

// The POSIX domain, for failures of the file system.
namespace POSIXError {
inline constexpr const char* domain = "NSPOSIXErrorDomain";
Error make(int errnoValue);
}  // namespace POSIXError

}  // namespace ostrel
