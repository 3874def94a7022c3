// An error as the file provider daemon sends it in a reply: anything that is
// not an encoded error is a failure, never success, and a decoded error
// goes back out as the same error.

#include "fuzz/fuzz_target.h"
#include "platform/fileprovider/control_protocol.h"

using namespace ostrel::fileprovider;

FUZZ_TARGET(control_protocol) {
  const auto error = control::decodeError(input);
  FUZZ_CHECK(error.has_value() == !input.empty());
  if (!error) return;
  const auto again = control::decodeError(control::encodeError(*error));
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(*again == *error);
}
