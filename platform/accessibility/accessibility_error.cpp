#include "platform/accessibility/accessibility_error.h"

namespace ostrel::accessibility::AXError {

// No user info: readers make tens of thousands of these per walk (every
// attribute an element lacks), and the generic description names the code.
Error make(long code) { return Error{domain, code, {}}; }

}  // namespace ostrel::accessibility::AXError
