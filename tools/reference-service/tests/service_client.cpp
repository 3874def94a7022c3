#include "tools/reference-service/tests/service_client.h"

#include <gtest/gtest.h>

#include "platform/foundation/url.h"

namespace ostrel::refsvc::testing {

std::string Answer::code() const {
  if (!value.is_object()) return "";
  auto detail = value.find("detail");
  if (detail == value.end() || !detail->is_object()) return "";
  auto found = detail->find("code");
  return found != detail->end() && found->is_string() ? found->get<std::string>() : "";
}

ServiceClient::ServiceClient(std::string base, std::string token) : base_(std::move(base)), token_(std::move(token)) {}

httplib::Client ServiceClient::connect() const {
  httplib::Client client(base_);
  client.set_url_encode(false);
  client.set_connection_timeout(5, 0);
  client.set_read_timeout(30, 0);
  client.set_write_timeout(30, 0);
  return client;
}

Answer ServiceClient::sendBare(const std::string& method, const std::string& path,
                               const std::optional<std::string>& body, const httplib::Headers& headers) const {
  auto client = connect();
  const std::string content = body.value_or("");
  const std::string type = headers.count("Content-Type") ? headers.find("Content-Type")->second : "application/json";
  httplib::Headers sent = headers;
  sent.erase("Content-Type");
  httplib::Result result = [&] {
    if (method == "GET") return client.Get(path, sent);
    if (method == "DELETE") return body ? client.Delete(path, sent, content, type) : client.Delete(path, sent);
    if (method == "POST") return client.Post(path, sent, content, type);
    if (method == "PUT") return client.Put(path, sent, content, type);
    return client.Patch(path, sent, content, type);
  }();
  Answer answer;
  if (!result) return answer;
  answer.status = result->status;
  answer.body = result->body;
  answer.headers = result->headers;
  answer.value = json::parse(answer.body, nullptr, /*allow_exceptions=*/false);
  if (answer.value.is_discarded()) answer.value = nullptr;
  return answer;
}

Answer ServiceClient::send(const std::string& method, const std::string& path, const std::optional<json>& body,
                           const httplib::Headers& headers) const {
  httplib::Headers sent = headers;
  if (token_) sent.emplace("Authorization", "Bearer " + *token_);
  std::optional<std::string> text;
  if (body) text = body->dump();
  return sendBare(method, path, text, sent);
}

std::string ServiceClient::itemPath(const std::string& id, const std::string& tail) {
  return "/api/drive/items/" + percentEncodePathSegment(id) + tail;
}

Answer ServiceClient::item(const std::string& id) const {
  return send("GET", itemPath(id));
}

Answer ServiceClient::page(const std::string& container, int limit, const std::optional<std::string>& cursor) const {
  std::string path = "/api/drive/containers/" + percentEncodePathSegment(container) +
                     "/items?limit=" + std::to_string(limit);
  if (cursor) path += "&page=" + percentEncodeQueryComponent(*cursor);
  return send("GET", path);
}

std::vector<json> ServiceClient::children(const std::string& container, int limit) const {
  std::vector<json> out;
  std::optional<std::string> cursor;
  for (int pages = 0; pages < 1000; ++pages) {
    auto answer = page(container, limit, cursor);
    EXPECT_EQ(answer.status, 200) << container << ": " << answer.body;
    if (answer.status != 200) return out;
    for (const auto& item : answer.value["items"]) out.push_back(item);
    if (answer.value["next_page"].is_null()) return out;
    cursor = answer.value["next_page"].get<std::string>();
  }
  ADD_FAILURE() << "the listing of " << container << " never ended";
  return out;
}

std::optional<json> ServiceClient::childNamed(const std::string& container, const std::string& filename) const {
  for (auto& child : children(container)) {
    if (child["filename"] == filename) return child;
  }
  return std::nullopt;
}

Answer ServiceClient::admin(const std::string& method, const std::string& path, const json& body) const {
  return sendBare(method, "/admin/" + path, body.dump());
}

std::string ServiceClient::pathOf(const std::string& url) const {
  EXPECT_TRUE(url.starts_with(base_)) << url;
  return url.substr(std::min(base_.size(), url.size()));
}

std::string ServiceClient::upload(const std::string& item, const std::string& filename,
                                  const std::string& bytes) const {
  auto slot = send("POST", "/api/drive/uploads",
                   json{{"item", item}, {"filename", filename}, {"size", static_cast<int64_t>(bytes.size())}});
  EXPECT_EQ(slot.status, 201) << slot.body;
  if (slot.status != 201) return "";
  httplib::Headers headers;
  for (const auto& [name, value] : slot.value["headers"].items()) headers.emplace(name, value.get<std::string>());
  auto put = sendBare("PUT", pathOf(slot.value["url"]), bytes, headers);
  EXPECT_EQ(put.status, 201) << put.body;
  return slot.value["upload_id"];
}

Answer ServiceClient::createDocument(const std::string& parent, const std::string& filename,
                                     const std::string& bytes) const {
  const std::string uploadId = upload(parent, filename, bytes);
  return send("POST", "/api/drive/items", json{{"parent", parent}, {"filename", filename}, {"upload_id", uploadId}});
}

Answer ServiceClient::createFolder(const std::string& parent, const std::string& name) const {
  return send("POST", "/api/drive/items", json{{"parent", parent}, {"filename", name}, {"kind", "container"}});
}

Answer ServiceClient::download(const std::string& id) const {
  auto described = send("POST", itemPath(id, "/content-url"), json::object());
  if (described.status != 200) return described;
  return sendBare("GET", pathOf(described.value["url"]), std::nullopt);
}

std::string patternBytes(size_t size, unsigned seed) {
  std::string out(size, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (auto& c : out) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return out;
}

}  // namespace ostrel::refsvc::testing
