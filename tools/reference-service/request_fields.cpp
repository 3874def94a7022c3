#include "tools/reference-service/request_fields.h"

#include <algorithm>
#include <charconv>

#include <nlohmann/json.hpp>

namespace ostrel::refsvc {

namespace {

std::unexpected<ApiError> wrongType(const char* key, const char* expected) {
  return fail(422, "invalid_request", std::string("\"") + key + "\" must be " + expected + ".");
}

}  // namespace

Result<std::string> requiredText(const nlohmann::json& body, const char* key) {
  auto member = body.find(key);
  if (member == body.end() || member->is_null()) {
    return fail(422, "invalid_request", std::string("\"") + key + "\" is required.");
  }
  if (!member->is_string()) return wrongType(key, "a text");
  return member->get<std::string>();
}

Result<std::optional<std::string>> optionalText(const nlohmann::json& body, const char* key) {
  auto member = body.find(key);
  if (member == body.end() || member->is_null()) return std::optional<std::string>();
  if (!member->is_string()) return wrongType(key, "a text");
  return member->get<std::string>();
}

Result<std::optional<int64_t>> optionalInteger(const nlohmann::json& body, const char* key) {
  auto member = body.find(key);
  if (member == body.end() || member->is_null()) return std::optional<int64_t>();
  if (!member->is_number_integer()) return wrongType(key, "a whole number");
  return member->get<int64_t>();
}

Result<std::optional<bool>> optionalBoolean(const nlohmann::json& body, const char* key) {
  auto member = body.find(key);
  if (member == body.end() || member->is_null()) return std::optional<bool>();
  if (!member->is_boolean()) return wrongType(key, "true or false");
  return member->get<bool>();
}

Result<int64_t> pageLimit(const std::optional<std::string>& text) {
  auto invalid = fail(400, "invalid_limit", "\"limit\" must be a whole number from 1.");
  if (!text || text->empty()) return invalid;
  int64_t limit = 0;
  const char* end = text->data() + text->size();
  auto [stop, error] = std::from_chars(text->data(), end, limit);
  if (error == std::errc::result_out_of_range && stop == end && text->front() != '-') return largestPage;
  if (error != std::errc() || stop != end || limit < 1) return invalid;
  return std::min(limit, largestPage);
}

}  // namespace ostrel::refsvc
