#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/json.h"

namespace ostrel::speaker {

// The probe's events, with JSON null where a value is absent.
json::Value helloEvent(bool granted);
json::Value permissionEvent(bool granted);
json::Value meetingEvent(bool active);
json::Value speakerEvent(const std::optional<std::string>& name);
json::Value rosterEvent(std::optional<int64_t> total, const std::optional<std::string>& self,
                        const std::vector<std::string>& others);
json::Value candidatesEvent(const std::vector<std::string>& strings);

}  // namespace ostrel::speaker
