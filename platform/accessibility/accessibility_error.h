#pragma once

#include "platform/foundation/error.h"

namespace ostrel::accessibility {

// AXError: what AXUIElementCopyAttributeValue answers instead of a value.
namespace AXError {
inline constexpr const char* domain = "AXError";

enum Code : long {
  failure = -25200,
  illegalArgument = -25201,
  invalidUIElement = -25202,
  cannotComplete = -25204,
  attributeUnsupported = -25205,
  apiDisabled = -25211,
  noValue = -25212,
};

// `code` is an AXError value; the named ones are above.
Error make(long code);
}  // namespace AXError

}  // namespace ostrel::accessibility
