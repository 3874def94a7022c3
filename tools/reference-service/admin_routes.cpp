#include <nlohmann/json.hpp>

#include "tools/reference-service/change_log.h"
#include "tools/reference-service/request_fields.h"
#include "tools/reference-service/routes.h"
#include "tools/reference-service/tokens.h"
#include "tools/reference-service/transfers.h"

namespace ostrel::refsvc {

namespace {

using nlohmann::json;

Reply addToken(Service& service, Incoming& incoming, const Captures&) {
  auto body = incoming.jsonObject();
  if (!body) return Reply::error(body.error());
  auto token = requiredText(*body, "token");
  if (!token) return Reply::error(token.error());
  if (token->empty()) return Reply::error(422, "invalid_request", "A token cannot be empty.");
  std::optional<Micros> expiresAt;
  if (auto lifetime = body->find("expires_in"); lifetime != body->end() && !lifetime->is_null()) {
    if (!lifetime->is_number()) return Reply::error(422, "invalid_request", "\"expires_in\" is a number of seconds.");
    expiresAt = nowMicros() + static_cast<Micros>(lifetime->get<double>() * microsPerSecond);
  }
  auto registered = service.store().write([&](Database& db) { return registerToken(db, *token, expiresAt); });
  if (!registered) return Reply::error(registered.error());
  return Reply::json(201, {{"token", *token}, {"expires_at", expiresAt ? json(formatTimestamp(*expiresAt)) : json()}});
}

Reply addFault(Service& service, Incoming& incoming, const Captures&) {
  auto body = incoming.jsonObject();
  if (!body) return Reply::error(body.error());
  auto rule = parseFaultRule(*body);
  if (!rule) return Reply::error(rule.error());
  json described = describe(*rule);
  service.faults().add(std::move(*rule));
  return Reply::json(201, described);
}

Reply listFaults(Service& service, Incoming&, const Captures&) {
  json rules = json::array();
  for (const auto& rule : service.faults().rules()) rules.push_back(describe(rule));
  return Reply::json(200, {{"faults", std::move(rules)}});
}

Reply clearFaults(Service& service, Incoming&, const Captures&) {
  service.faults().clear();
  return Reply::noContent();
}

Reply refuseNext(Service& service, Incoming& incoming, const Captures&) {
  auto body = incoming.jsonObject();
  if (!body) return Reply::error(body.error());
  auto count = optionalInteger(*body, "count");
  if (!count) return Reply::error(count.error());
  if (!*count || **count < 0) return Reply::error(422, "invalid_request", "\"count\" is a whole number from 0.");
  service.refuseNextRequests(**count);
  return Reply::json(200, {{"count", **count}});
}

Reply switchDrive(Service& service, Incoming& incoming, const Captures&) {
  auto body = incoming.jsonObject();
  if (!body) return Reply::error(body.error());
  auto enabled = optionalBoolean(*body, "enabled");
  if (!enabled) return Reply::error(enabled.error());
  if (!*enabled) return Reply::error(422, "invalid_request", "\"enabled\" is required.");
  if (auto set = service.setDriveEnabled(**enabled); !set) return Reply::error(set.error());
  return Reply::json(200, {{"enabled", **enabled}});
}

Reply compact(Service& service, Incoming&, const Captures&) {
  auto anchor = service.store().write([](Database& db) { return compactChanges(db); });
  if (!anchor) return Reply::error(anchor.error());
  return Reply::json(200, {{"anchor", *anchor}});
}

Reply expireAllUploads(Service& service, Incoming&, const Captures&) {
  auto expired = expireUploads(service.store());
  if (!expired) return Reply::error(expired.error());
  return Reply::json(200, {{"expired", *expired}});
}

Reply expireAllTickets(Service& service, Incoming&, const Captures&) {
  auto expired = expireTickets(service.store());
  if (!expired) return Reply::error(expired.error());
  return Reply::json(200, {{"expired", *expired}});
}

Reply listRequests(Service& service, Incoming&, const Captures&) {
  json requests = json::array();
  for (const auto& entry : service.requests().entries()) {
    requests.push_back({{"at", formatTimestamp(entry.at)},
                        {"method", entry.method},
                        {"target", entry.target},
                        {"headers", entry.headerNames},
                        {"authorization", entry.authorization}});
  }
  return Reply::json(200, {{"requests", std::move(requests)}});
}

Reply clearRequests(Service& service, Incoming&, const Captures&) {
  service.requests().clear();
  return Reply::noContent();
}

}  // namespace

std::vector<Route> adminRoutes() {
  return {
      {"POST", {"tokens"}, addToken},
      {"POST", {"faults"}, addFault},
      {"GET", {"faults"}, listFaults},
      {"DELETE", {"faults"}, clearFaults},
      {"POST", {"unauthorized"}, refuseNext},
      {"POST", {"drive"}, switchDrive},
      {"POST", {"compact-changes"}, compact},
      {"POST", {"expire-uploads"}, expireAllUploads},
      {"POST", {"expire-tickets"}, expireAllTickets},
      {"GET", {"requests"}, listRequests},
      {"DELETE", {"requests"}, clearRequests},
  };
}

}  // namespace ostrel::refsvc
