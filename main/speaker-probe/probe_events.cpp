#include "main/speaker-probe/probe_events.h"

#include <nlohmann/json.hpp>

namespace ostrel::speaker {

namespace {
template <class T>
json::Value orNull(const std::optional<T>& value) {
  return value ? json::Value(*value) : json::Value(nullptr);
}
}  // namespace

json::Value helloEvent(bool granted) { return {{"event", "hello"}, {"granted", granted}}; }

json::Value permissionEvent(bool granted) { return {{"event", "permission"}, {"granted", granted}}; }

json::Value meetingEvent(bool active) { return {{"event", "meeting"}, {"active", active}}; }

json::Value speakerEvent(const std::optional<std::string>& name) {
  return {{"event", "speaker"}, {"name", orNull(name)}};
}

json::Value rosterEvent(std::optional<int64_t> total, const std::optional<std::string>& self,
                        const std::vector<std::string>& others) {
  return {{"event", "roster"}, {"total", orNull(total)}, {"self", orNull(self)}, {"others", others}};
}

json::Value candidatesEvent(const std::vector<std::string>& strings) {
  return {{"event", "candidates"}, {"strings", strings}};
}

}  // namespace ostrel::speaker
