#pragma once

#include "tools/reference-service/service.h"

namespace ostrel::refsvc {

// Fills an empty store with a small law firm's drive: open matters with
// nested folders, documents with several versions, drafts and saves, a
// closed matter, a matter the partner is not a member of, read-only
// groupings and one document without versions. A store that already holds
// matters is left as it is. Answers whether it seeded.
Result<bool> seedDemoIfEmpty(Service& service);

}  // namespace ostrel::refsvc
