#include "tools/reference-service/http_exchange.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/json.h"

namespace ostrel::refsvc {

namespace {

constexpr size_t largestJsonBody = 1 << 20;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

Reply Reply::json(int status, const nlohmann::json& body) {
  Reply reply;
  reply.status = status;
  reply.contentType = "application/json";
  reply.body = ostrel::json::compact(body);
  return reply;
}

Reply Reply::error(const ApiError& error) {
  Reply reply = json(error.status, {{"detail", {{"code", error.code}, {"message", error.message}}}});
  if (error.status == 401) reply.headers.emplace_back("WWW-Authenticate", "Bearer");
  return reply;
}

Reply Reply::error(int status, std::string code, std::string message) {
  return error(ApiError{status, std::move(code), std::move(message)});
}

Reply Reply::noContent() {
  Reply reply;
  reply.status = 204;
  return reply;
}

Reply Reply::html(int status, std::string page) {
  Reply reply;
  reply.status = status;
  reply.contentType = "text/html; charset=utf-8";
  reply.body = std::move(page);
  return reply;
}

Incoming::Incoming(const httplib::Request& request, const httplib::ContentReader* reader)
    : request_(request), reader_(reader) {
  const std::string& target = request.target;
  path_ = target.substr(0, target.find('?'));
  // "/a/b" -> "a", "b"; the leading slash opens the path.
  std::string_view rest(path_);
  if (rest.starts_with('/')) rest.remove_prefix(1);
  while (true) {
    const size_t slash = rest.find('/');
    auto decoded = percentDecode(rest.substr(0, slash));
    if (!decoded) {
      pathIsValid_ = false;
      decoded = std::string();
    }
    segments_.push_back(std::move(*decoded));
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
}

std::optional<std::string> Incoming::header(const std::string& name) const {
  if (!request_.has_header(name)) return std::nullopt;
  return request_.get_header_value(name);
}

std::vector<std::string> Incoming::headerNames() const {
  std::vector<std::string> names;
  for (const auto& [name, value] : request_.headers) {
    // cpp-httplib adds the peer's address as a header of its own.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
    names.push_back(name);
  }
  return names;
}

std::optional<std::string> Incoming::query(const std::string& name) const {
  if (!request_.has_param(name)) return std::nullopt;
  return request_.get_param_value(name);
}

bool Incoming::streamBody(const std::function<bool(const char*, size_t)>& sink) {
  if (bodyRead_) return true;
  bodyRead_ = true;
  if (!reader_) {
    // Requests without a declared body were read whole by the library.
    return request_.body.empty() || sink(request_.body.data(), request_.body.size());
  }
  return (*reader_)([&](const char* data, size_t length) { return sink(data, length); });
}

Result<nlohmann::json> Incoming::jsonObject() {
  std::string text;
  bool tooLarge = false;
  const bool complete = streamBody([&](const char* data, size_t length) {
    if (text.size() + length > largestJsonBody) {
      tooLarge = true;
      return true;  // keep reading, so the answer can still be sent
    }
    text.append(data, length);
    return true;
  });
  if (tooLarge) return fail(413, "body_too_large", "The request body is too large.");
  if (!complete) return fail(400, "bad_request", "The request body was cut off.");
  if (text.empty()) return nlohmann::json::object();
  auto body = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (body.is_discarded()) return fail(400, "malformed_json", "The request body is not JSON.");
  if (!body.is_object()) return fail(422, "invalid_request", "The request body must be a JSON object.");
  return body;
}

void Incoming::drain() {
  if (bodyRead_ || !reader_) return;
  streamBody([](const char*, size_t) { return true; });
}

}  // namespace ostrel::refsvc
