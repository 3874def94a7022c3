#pragma once

#include <optional>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace ostrel::refsvc::testing {

using nlohmann::json;

struct Answer {
  int status = 0;  // 0: no HTTP answer (connection failed or cut)
  std::string body;
  httplib::Headers headers;
  json value;  // the body as JSON, null when it is not JSON

  std::string code() const;  // detail.code of an error body, or ""
};

// Talks HTTP to the service the way the drive does: bearer token on API
// requests, none on transfer addresses, identifiers as one encoded segment.
class ServiceClient {
 public:
  ServiceClient(std::string base, std::string token);

  const std::string& base() const { return base_; }
  void setToken(std::optional<std::string> token) { token_ = std::move(token); }

  // `path` is below the base, raw (already encoded), e.g. "/api/drive/changes/head".
  Answer send(const std::string& method, const std::string& path, const std::optional<json>& body = std::nullopt,
              const httplib::Headers& headers = {}) const;
  // The same without any Authorization header (transfers, admin routes).
  Answer sendBare(const std::string& method, const std::string& path, const std::optional<std::string>& body,
                  const httplib::Headers& headers = {}) const;

  // Below /api/drive, with an identifier as one segment.
  static std::string itemPath(const std::string& id, const std::string& tail = "");
  Answer item(const std::string& id) const;
  Answer page(const std::string& container, int limit, const std::optional<std::string>& cursor = std::nullopt) const;
  // Every child, following next_page (bounded); fails the test on a non-200 page.
  std::vector<json> children(const std::string& container, int limit = 50) const;
  std::optional<json> childNamed(const std::string& container, const std::string& filename) const;
  Answer admin(const std::string& method, const std::string& path, const json& body = json::object()) const;

  // An upload slot granted and its bytes put; returns the upload id.
  std::string upload(const std::string& item, const std::string& filename, const std::string& bytes) const;
  Answer createDocument(const std::string& parent, const std::string& filename, const std::string& bytes) const;
  Answer createFolder(const std::string& parent, const std::string& name) const;
  // The bytes of a file item, through content-url and the transfer address.
  Answer download(const std::string& id) const;

  // The address below the base of a full URL the service handed out.
  std::string pathOf(const std::string& url) const;

 private:
  httplib::Client connect() const;

  std::string base_;
  std::optional<std::string> token_;
};

// Bytes of every value, long enough to cross the service's buffers.
std::string patternBytes(size_t size, unsigned seed = 1);

}  // namespace ostrel::refsvc::testing
