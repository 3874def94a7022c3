#include "notifier/payload.h"

#include <nlohmann/json.hpp>

namespace ostrel::notifier {

namespace {

using Json = nlohmann::json;

// A null member counts as missing, as for any optional key of a decoded record.
template <class T, class Check>
bool readOptional(const Json& object, const char* key, Check isType, std::optional<T>& out) {
  auto member = object.find(key);
  if (member == object.end() || member->is_null()) return true;
  if (!(member.value().*isType)()) return false;
  out = member->get<T>();
  return true;
}

}  // namespace

std::optional<Payload> decodePayload(std::string_view text) {
  // The parser refuses text that is not UTF-8.
  const Json object = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (!object.is_object()) return std::nullopt;
  std::optional<bool> request;
  std::optional<bool> timeSensitive;
  Payload payload;
  const bool wellTyped = readOptional(object, "request", &Json::is_boolean, request) &&
                         readOptional(object, "title", &Json::is_string, payload.title) &&
                         readOptional(object, "body", &Json::is_string, payload.body) &&
                         readOptional(object, "target", &Json::is_string, payload.target) &&
                         readOptional(object, "timeSensitive", &Json::is_boolean, timeSensitive);
  if (!wellTyped) return std::nullopt;
  payload.request = request.value_or(false);
  payload.timeSensitive = timeSensitive.value_or(true);
  return payload;
}

std::optional<Payload> payloadFromArguments(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::nullopt;
  return decodePayload(arguments.front());
}

}  // namespace ostrel::notifier
