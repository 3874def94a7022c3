// A line from an XPC peer: a frame or a reason, and every frame goes back out
// as a line that reads as the same frame.

#include "fuzz/fuzz_target.h"
#include "platform/xpc/wire.h"

using namespace ostrel::xpc;

FUZZ_TARGET(xpc_wire) {
  const auto frame = wire::decode(input);
  if (!frame) {
    FUZZ_CHECK(!frame.error().empty());
    return;
  }
  const auto line = wire::encode(*frame);
  FUZZ_CHECK(line.has_value());
  FUZZ_CHECK(!line->empty() && line->back() == '\n');
  const auto again = wire::decode(std::string_view(*line).substr(0, line->size() - 1));
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(*again == *frame);
}
