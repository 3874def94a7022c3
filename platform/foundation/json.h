#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace ostrel::json {

using Value = nlohmann::json;

// One JSON value on one line, no spaces. Text that is not valid UTF-8 is
// written with replacement characters rather than failing.
std::string compact(const Value& value);

// The service's key rule: snake_case becomes camelCase ("parent_identifier"
// -> "parentIdentifier"); leading and trailing underscores stay; a key
// without underscores is used as it is.
std::string convertFromSnakeCase(std::string_view key);

}  // namespace ostrel::json
