#include "platform/foundation/error.h"

#include <cstring>

namespace ostrel {

std::string Error::localizedDescription() const {
  if (auto it = userInfo.find(localizedDescriptionKey); it != userInfo.end()) {
    return it->second;
  }
  return "The operation couldn\u2019t be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

Error FileProviderError::make(Code code) {
  return Error{domain, code, {}};
}

Error FileProviderError::make(Code code, std::string description) {
  return Error{domain, code, {{localizedDescriptionKey, std::move(description)}}};
}

Error FileProviderError::nonExistentItem(const std::string& itemIdentifier) {
  return Error{domain, noSuchItem, {{nonExistentItemIdentifierKey, itemIdentifier}}};
}

Error CocoaError::make(Code code) {
  return Error{domain, code, {}};
}

Error URLError::make(Code code, std::string description) {
  Error error{domain, code, {}};
  if (!description.empty()) error.userInfo[localizedDescriptionKey] = std::move(description);
  return error;
}

Error POSIXError::make(int errnoValue) {
  return Error{domain, errnoValue, {{localizedDescriptionKey, std::strerror(errnoValue)}}};
}

}  // namespace ostrel
