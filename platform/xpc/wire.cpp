#include "platform/xpc/wire.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "platform/foundation/json.h"

namespace ostrel::xpc::wire {

namespace {

using Json = nlohmann::json;

std::expected<Argument, std::string> decodeArgument(const Json& value) {
  switch (value.type()) {
    case Json::value_t::boolean: return value.get<bool>();
    case Json::value_t::number_integer: return value.get<int64_t>();
    case Json::value_t::number_unsigned:
      if (value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return std::unexpected("integer out of range");
      }
      return static_cast<int64_t>(value.get<uint64_t>());
    case Json::value_t::number_float: return value.get<double>();
    case Json::value_t::string: return value.get<std::string>();
    default: return std::unexpected(std::string("argument of type ") + value.type_name());
  }
}

std::expected<Arguments, std::string> decodeArguments(const Json& object) {
  auto it = object.find("a");
  if (it == object.end() || !it->is_array()) return std::unexpected("no argument array");
  Arguments arguments;
  arguments.reserve(it->size());
  for (const auto& value : *it) {
    auto argument = decodeArgument(value);
    if (!argument) return std::unexpected(argument.error());
    arguments.push_back(std::move(*argument));
  }
  return arguments;
}

std::expected<int64_t, std::string> decodeReplyId(const Json& value) {
  if (!value.is_number_integer() || value.get<int64_t>() <= 0 ||
      (value.is_number_unsigned() &&
       value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))) {
    return std::unexpected("reply id is not a positive integer");
  }
  return value.get<int64_t>();
}

std::expected<Json, std::string> encodeArguments(const Arguments& arguments) {
  Json array = Json::array();
  for (const auto& argument : arguments) {
    if (const double* number = std::get_if<double>(&argument); number && !std::isfinite(*number)) {
      return std::unexpected("a non-finite double has no JSON form");
    }
    std::visit([&](const auto& value) { array.push_back(value); }, argument);
  }
  return array;
}

}  // namespace

std::expected<Frame, std::string> decode(std::string_view line) {
  Json object = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (object.is_discarded()) return std::unexpected("not JSON");
  if (!object.is_object()) return std::unexpected("not a JSON object");
  auto arguments = decodeArguments(object);
  if (!arguments) return std::unexpected(arguments.error());

  auto selector = object.find("m");
  auto replyId = object.find("r");
  std::optional<int64_t> id;
  if (replyId != object.end()) {
    auto decoded = decodeReplyId(*replyId);
    if (!decoded) return std::unexpected(decoded.error());
    id = *decoded;
  }
  size_t expectedKeys = 1 + (selector != object.end()) + (replyId != object.end());
  if (object.size() != expectedKeys) return std::unexpected("unexpected keys");

  if (selector == object.end()) {
    if (!id) return std::unexpected("neither a selector nor a reply id");
    return Reply{*id, std::move(*arguments)};
  }
  if (!selector->is_string() || selector->get_ref<const std::string&>().empty()) {
    return std::unexpected("selector is not a non-empty string");
  }
  return Request{selector->get<std::string>(), std::move(*arguments), id};
}

std::expected<std::string, std::string> encode(const Frame& frame) {
  Json object = Json::object();
  const Arguments& arguments = std::visit([](const auto& f) -> const Arguments& { return f.arguments; }, frame);
  // Escaping only lengthens text: refuse what cannot fit before serialising it.
  size_t textBytes = 0;
  for (const auto& argument : arguments) {
    if (const auto* text = std::get_if<std::string>(&argument)) textBytes += text->size();
  }
  if (textBytes > maxLineBytes) return std::unexpected("message of over " + std::to_string(textBytes) + " bytes");
  auto array = encodeArguments(arguments);
  if (!array) return std::unexpected(array.error());
  object["a"] = std::move(*array);
  if (const auto* request = std::get_if<Request>(&frame)) {
    object["m"] = request->selector;
    if (request->replyId) object["r"] = *request->replyId;
  } else {
    object["r"] = std::get<Reply>(frame).replyId;
  }
  std::string line = json::compact(object);
  if (line.size() > maxLineBytes) return std::unexpected("message of " + std::to_string(line.size()) + " bytes");
  line += '\n';
  return line;
}

}  // namespace ostrel::xpc::wire
