#include "tools/reference-service/faults.h"

#include <nlohmann/json.hpp>

namespace ostrel::refsvc {

namespace {

constexpr int64_t longestDelayMs = 120'000;

std::unexpected<ApiError> invalid(std::string message) {
  return fail(422, "invalid_request", std::move(message));
}

}  // namespace

Result<FaultRule> parseFaultRule(const nlohmann::json& body) {
  if (!body.is_object()) return invalid("A fault rule is a JSON object.");
  FaultRule rule;
  if (auto method = body.find("method"); method != body.end() && !method->is_null()) {
    if (!method->is_string()) return invalid("\"method\" is a text.");
    rule.method = method->get<std::string>();
  }
  if (auto prefix = body.find("path_prefix"); prefix != body.end() && !prefix->is_null()) {
    if (!prefix->is_string()) return invalid("\"path_prefix\" is a text.");
    rule.pathPrefix = prefix->get<std::string>();
  }
  if (auto status = body.find("status"); status != body.end() && !status->is_null()) {
    if (!status->is_number_integer() || *status < 100 || *status > 599) return invalid("\"status\" is 100 to 599.");
    rule.status = status->get<int>();
  }
  if (auto text = body.find("body"); text != body.end() && !text->is_null()) {
    if (!text->is_string()) return invalid("\"body\" is a text.");
    rule.body = text->get<std::string>();
  }
  if (auto count = body.find("count"); count != body.end() && !count->is_null()) {
    if (!count->is_number_integer() || *count < 1) return invalid("\"count\" is a whole number from 1.");
    rule.count = count->get<int64_t>();
  }
  if (auto delay = body.find("delay_ms"); delay != body.end() && !delay->is_null()) {
    if (!delay->is_number_integer() || *delay < 0 || *delay > longestDelayMs) {
      return invalid("\"delay_ms\" is 0 to 120000.");
    }
    rule.delay = std::chrono::milliseconds(delay->get<int64_t>());
  }
  if (auto drop = body.find("drop_after_bytes"); drop != body.end() && !drop->is_null()) {
    if (!drop->is_number_integer() || *drop < 0) return invalid("\"drop_after_bytes\" is a whole number from 0.");
    rule.dropAfterBytes = drop->get<uint64_t>();
  }
  if (auto pace = body.find("bytes_per_second"); pace != body.end() && !pace->is_null()) {
    if (!pace->is_number_integer() || *pace < 1) return invalid("\"bytes_per_second\" is a whole number from 1.");
    rule.bytesPerSecond = pace->get<uint64_t>();
  }
  if (!rule.status && rule.delay.count() == 0 && !rule.dropAfterBytes && !rule.bytesPerSecond) {
    return invalid("A fault needs a status, a delay, a drop or a pace.");
  }
  return rule;
}

nlohmann::json describe(const FaultRule& rule) {
  nlohmann::json out = {{"method", rule.method}, {"path_prefix", rule.pathPrefix}, {"count", rule.count},
                        {"delay_ms", rule.delay.count()}};
  out["status"] = rule.status ? nlohmann::json(*rule.status) : nlohmann::json(nullptr);
  out["body"] = rule.body ? nlohmann::json(*rule.body) : nlohmann::json(nullptr);
  out["drop_after_bytes"] = rule.dropAfterBytes ? nlohmann::json(*rule.dropAfterBytes) : nlohmann::json(nullptr);
  out["bytes_per_second"] = rule.bytesPerSecond ? nlohmann::json(*rule.bytesPerSecond) : nlohmann::json(nullptr);
  return out;
}

void FaultRules::add(FaultRule rule) {
  std::lock_guard lock(mutex_);
  rules_.push_back(std::move(rule));
}

void FaultRules::clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

std::optional<FaultRule> FaultRules::take(std::string_view method, std::string_view path) {
  std::lock_guard lock(mutex_);
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if ((it->method == "*" || it->method == method) && path.starts_with(it->pathPrefix)) {
      FaultRule taken = *it;
      if (--it->count == 0) rules_.erase(it);
      return taken;
    }
  }
  return std::nullopt;
}

std::vector<FaultRule> FaultRules::rules() const {
  std::lock_guard lock(mutex_);
  return rules_;
}

}  // namespace ostrel::refsvc
