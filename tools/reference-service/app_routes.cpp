#include "tools/reference-service/items.h"
#include "tools/reference-service/routes.h"

namespace ostrel::refsvc {

namespace {

std::string escapeHtml(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// What the web application would show; enough for the demo to open a page.
Reply itemPage(Service& service, Incoming&, const Captures& id) {
  auto item = service.store().read([&](const Database& db) { return requireItem(db, id[0]); });
  if (!item) {
    return Reply::html(item.error().status, "<!doctype html><title>Not found</title><p>No such item in Ostrel.</p>");
  }
  const std::string name = escapeHtml(item->filename);
  return Reply::html(200, "<!doctype html><html><head><meta charset=\"utf-8\"><title>" + name +
                              " - Ostrel</title></head><body><h1>" + name + "</h1><p>Item <code>" +
                              escapeHtml(item->id) + "</code> in <code>" + escapeHtml(item->parent) +
                              "</code>.</p></body></html>");
}

}  // namespace

std::vector<Route> appRoutes() {
  return {{"GET", {"items", "*"}, itemPage}};
}

}  // namespace ostrel::refsvc
