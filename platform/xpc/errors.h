#pragma once

#include <string>

#include "platform/foundation/error.h"

namespace ostrel::xpc {

// The Cocoa errors an XPC proxy's error handler receives.
namespace XPCError {
enum Code : long {
  connectionInterrupted = 4097,  // the peer went away
  connectionInvalid = 4099,      // invalidated here, never connected, or the peer misbehaved
  invalidValue = 4866,           // NSCoderInvalidValueError: the message could not be encoded
};
// An NSCocoaErrorDomain error with the platform's wording; `debugDescription`
// goes under NSDebugDescription when not empty.
Error make(Code code, std::string debugDescription = {});
}  // namespace XPCError

}  // namespace ostrel::xpc
