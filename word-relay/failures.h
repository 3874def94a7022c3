#pragma once

#include <string>
#include <string_view>

namespace ostrel::word {

// What ends a command without its result: a fixed upper-case code and a
// message for the partner.
struct Failure {
  std::string code;
  std::string message;

  friend bool operator==(const Failure&, const Failure&) = default;
};

// Every failure word-relay prints, in one place.
namespace failures {
Failure noCommand();
Failure unknownCommand(std::string_view word);
Failure openNeedsPath();
Failure setStampNeedsFlags();
Failure wordNotRunning();
Failure wordNotInstalled();
Failure noDocument();
Failure cloudDocument(std::string_view name, std::string_view location);
Failure pathUnresolved(std::string_view name);
Failure neverSaved();
Failure keystrokeNeedsAccessibility();
Failure saveDialogNeverAppeared();
Failure saveFailed(std::string_view message);
Failure cancelled();
Failure wordBusy();
Failure saveDialogStillOpen();
Failure commandRefused();
Failure automationDenied();
Failure scriptInvalid();
Failure scriptFailed(std::string_view message, long number);
Failure unexpectedReply(std::string_view reply);
Failure noSuchFile(std::string_view path);
Failure openTimedOut();
Failure openFailed(std::string_view description);
Failure notOpen(std::string_view path);
Failure watchFailed(std::string_view description);
}  // namespace failures

}  // namespace ostrel::word
