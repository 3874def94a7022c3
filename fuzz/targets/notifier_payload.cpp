// The notifier's one argument.

#include "fuzz/fuzz_target.h"
#include "notifier/payload.h"

using namespace ostrel::notifier;

FUZZ_TARGET(notifier_payload) {
  const auto payload = decodePayload(input);
  const auto fromArguments = payloadFromArguments({std::string(input)});
  FUZZ_CHECK(payload.has_value() == fromArguments.has_value());
  if (payload) FUZZ_CHECK(*payload == *fromArguments);
}
