#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "tools/reference-service/result.h"

namespace ostrel::refsvc {

// Members of a request body. A member of the wrong type is 422 invalid_request;
// absent and null are the same for optional members.
Result<std::string> requiredText(const nlohmann::json& body, const char* key);
Result<std::optional<std::string>> optionalText(const nlohmann::json& body, const char* key);
Result<std::optional<int64_t>> optionalInteger(const nlohmann::json& body, const char* key);
Result<std::optional<bool>> optionalBoolean(const nlohmann::json& body, const char* key);

// The "limit" of a listing or change batch: 1 or more (400 otherwise),
// at most 500 (larger ones are cut to 500).
inline constexpr int64_t largestPage = 500;
Result<int64_t> pageLimit(const std::optional<std::string>& text);

}  // namespace ostrel::refsvc
