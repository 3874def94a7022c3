// The domain registry file: a damaged file is an error, never a crash, and
// what reads survives the next rewrite unchanged.

#include "fuzz/fuzz_target.h"
#include "fuzz/scratch_directory.h"
#include "platform/fileprovider/domain_registry.h"

using namespace ostrel::fileprovider;

namespace {

bool same(const Domain& a, const Domain& b) {
  return a.identifier == b.identifier && a.displayName == b.displayName && a.userEnabled == b.userEnabled &&
         a.disconnected == b.disconnected;
}

}  // namespace

FUZZ_TARGET(domain_registry) {
  const DomainRegistry registry(ostrel::fuzz::scratchWith("domains.json", input));
  const auto before = registry.domains();
  if (!before) return;
  const Domain added{"fuzz.added.domain", "Added", true, false};
  const auto adding = registry.add(added);
  FUZZ_CHECK(adding.has_value());
  const auto after = registry.domains();
  FUZZ_CHECK(after.has_value());
  FUZZ_CHECK(after->size() == before->size() + (*adding ? 1 : 0));
  for (size_t k = 0; k < before->size(); ++k) FUZZ_CHECK(same((*before)[k], (*after)[k]));
  if (*adding) FUZZ_CHECK(same(after->back(), added));
}
