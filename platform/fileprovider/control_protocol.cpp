#include "platform/fileprovider/control_protocol.h"

#include <nlohmann/json.hpp>

namespace ostrel::fileprovider::control {

xpc::Interface interface() {
  return xpc::Interface{protocolName,
                        {{serviceEndpoint, {3, true}},
                         {signalEnumerator, {2, true}},
                         {reimportItems, {2, true}},
                         {disconnect, {3, true}},
                         {reconnect, {1, true}},
                         {unsentEdits, {1, true}}}};
}

std::string encodeError(const std::optional<Error>& error) {
  if (!error) return {};
  nlohmann::json info = nlohmann::json::object();
  for (const auto& [key, value] : error->userInfo) info[key] = value;
  return nlohmann::json{{"domain", error->domain}, {"code", error->code}, {"user_info", info}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<Error> decodeError(std::string_view text) {
  if (text.empty()) return std::nullopt;
  auto json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object() || !json.value("domain", nlohmann::json()).is_string() ||
      !json.value("code", nlohmann::json()).is_number_integer()) {
    return FileProviderError::make(FileProviderError::cannotSynchronize, "the file provider daemon answered nonsense");
  }
  Error error{json["domain"].get<std::string>(), json["code"].get<long>(), {}};
  if (auto info = json.value("user_info", nlohmann::json()); info.is_object()) {
    for (const auto& [key, value] : info.items()) {
      if (value.is_string()) error.userInfo[key] = value.get<std::string>();
    }
  }
  return error;
}

}  // namespace ostrel::fileprovider::control
