#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/fileprovider/domain.h"
#include "platform/foundation/json.h"

namespace ostrel::drive::helper {

// Every domain of the program, as the system lists them; fails with
// "getDomains: …" when the system cannot list them.
std::vector<fileprovider::Domain> domains();

// The first domain whose identifier is exactly `identifier`.
std::optional<fileprovider::Domain> findDomain(std::string_view identifier);

// {"id","display_name","user_enabled","disconnected"}.
json::Value describe(const fileprovider::Domain& domain);

}  // namespace ostrel::drive::helper
