#include "platform/xpc/errors.h"

namespace ostrel::xpc {

Error XPCError::make(Code code, std::string debugDescription) {
  Error error{CocoaError::domain, code, {}};
  error.userInfo[localizedDescriptionKey] =
      code == invalidValue ? "The data couldn\u2019t be written because it isn\u2019t in the correct format."
                           : "Couldn\u2019t communicate with a helper application.";
  if (!debugDescription.empty()) error.userInfo["NSDebugDescription"] = std::move(debugDescription);
  return error;
}

}  // namespace ostrel::xpc
