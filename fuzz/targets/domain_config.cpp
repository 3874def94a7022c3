// A domain's configuration file: whatever decodes encodes to bytes that
// decode to the same configuration.

#include "drive/shared/drive_domain_config.h"
#include "fuzz/fuzz_target.h"

using namespace ostrel::drive;

FUZZ_TARGET(domain_config) {
  const auto config = DriveDomainConfig::decode(input);
  if (!config) return;
  const auto again = DriveDomainConfig::decode(config->encoded());
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(*again == *config);
}
