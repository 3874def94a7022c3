#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <httplib.h>
#include <nlohmann/json_fwd.hpp>

#include "tools/reference-service/blob_store.h"
#include "tools/reference-service/result.h"

namespace ostrel::refsvc {

// An answer, built by a route and written out at the HTTP boundary.
struct Reply {
  int status = 200;
  std::string contentType;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // When set, the body is streamed from this file instead.
  std::shared_ptr<BlobStore::Opened> file;
  // A fault: the connection closes after this many body bytes.
  std::optional<uint64_t> dropAfterBytes;
  // A fault: the body goes out at about this many bytes a second.
  std::optional<uint64_t> bytesPerSecond;

  static Reply json(int status, const nlohmann::json& body);
  // {"detail":{"code":...,"message":...}}
  static Reply error(const ApiError& error);
  static Reply error(int status, std::string code, std::string message);
  static Reply noContent();
  static Reply html(int status, std::string page);
};

// One request as the routes see it: the raw path split into percent-decoded
// segments (so an encoded "/" stays inside its segment), the query, the
// headers and a body that is read on demand.
class Incoming {
 public:
  Incoming(const httplib::Request& request, const httplib::ContentReader* reader);

  const std::string& method() const { return request_.method; }
  const std::string& target() const { return request_.target; }
  const std::string& path() const { return path_; }
  const std::vector<std::string>& segments() const { return segments_; }
  // False when a segment holds a broken percent escape.
  bool pathIsValid() const { return pathIsValid_; }

  std::optional<std::string> header(const std::string& name) const;
  std::vector<std::string> headerNames() const;
  std::optional<std::string> query(const std::string& name) const;

  // The body as a JSON object: 400 when it is not JSON or not an object,
  // 413 when it is larger than any request of the API needs.
  Result<nlohmann::json> jsonObject();
  // Hands the body to `sink` piece by piece as it arrives. False when the
  // connection broke; a sink that returns false ends reading early.
  bool streamBody(const std::function<bool(const char*, size_t)>& sink);
  // Reads and drops whatever the route left unread, so the connection can
  // carry the answer and the next request.
  void drain();

 private:
  const httplib::Request& request_;
  const httplib::ContentReader* reader_;
  bool bodyRead_ = false;
  std::string path_;
  std::vector<std::string> segments_;
  bool pathIsValid_ = true;
};

std::optional<std::string> percentDecode(std::string_view text);

}  // namespace ostrel::refsvc
