#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tools/reference-service/http_exchange.h"
#include "tools/reference-service/service.h"

namespace ostrel::refsvc {

// The decoded segments a route's "*" matched, in order.
using Captures = std::vector<std::string>;
using Handler = std::function<Reply(Service&, Incoming&, const Captures&)>;

struct Route {
  std::string method;
  std::vector<std::string> pattern;  // literal segments; "*" takes any one segment
  Handler handler;
};

// Finds the route for the segments below a route table's prefix: 404 when
// no pattern fits, 405 when one fits but for another method.
Reply dispatch(const std::vector<Route>& routes, Service& service, Incoming& incoming,
               std::span<const std::string> segments);

// Below /api/drive/ (after authentication).
std::vector<Route> driveRoutes();
// Below /transfers/: pre-authorised, credentials refused.
std::vector<Route> transferRoutes();
// Below /admin/: the tests' controls, without authentication.
std::vector<Route> adminRoutes();
// Below /app/: the web application's item pages.
std::vector<Route> appRoutes();

}  // namespace ostrel::refsvc
