#include "tools/reference-service/http_front.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <span>
#include <thread>

#include "tools/reference-service/tokens.h"

namespace ostrel::refsvc {

namespace {

// Long transfers hold a worker each; idle keep-alive connections do too.
constexpr size_t workerThreads = 24;
constexpr size_t streamPiece = 64 * 1024;

std::span<const std::string> below(const std::vector<std::string>& segments, size_t count) {
  return std::span<const std::string>(segments).subspan(std::min(count, segments.size()));
}

bool startsWith(const std::vector<std::string>& segments, std::initializer_list<const char*> prefix) {
  if (segments.size() < prefix.size()) return false;
  size_t i = 0;
  for (const char* segment : prefix) {
    if (segments[i++] != segment) return false;
  }
  return true;
}

std::optional<std::string> bearerToken(const Incoming& incoming) {
  auto header = incoming.header("Authorization");
  if (!header || header->size() <= 7) return std::nullopt;
  std::string scheme = header->substr(0, 7);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
  if (scheme != "bearer ") return std::nullopt;
  return header->substr(7);
}

Reply faultReply(const FaultRule& rule) {
  Reply reply;
  reply.status = *rule.status;
  reply.contentType = "application/json";
  reply.body = rule.body.value_or("{\"detail\":{\"code\":\"injected_fault\",\"message\":\"A fault was asked for.\"}}");
  return reply;
}

// Writes the body from a file, piece by piece, never all of it in memory;
// with a drop fault, stops early so the client sees a cut transfer.
// With a pace, each piece waits for its share of the second.
httplib::ContentProvider fileProvider(std::shared_ptr<BlobStore::Opened> file, uint64_t stopAt,
                                      std::optional<uint64_t> bytesPerSecond) {
  return [file = std::move(file), stopAt, bytesPerSecond](size_t offset, size_t length, httplib::DataSink& sink) {
    if (offset >= stopAt) return false;
    const uint64_t pieceSize = bytesPerSecond ? std::clamp<uint64_t>(*bytesPerSecond / 20, 1, streamPiece) : streamPiece;
    std::vector<char> piece(std::min<uint64_t>({length, pieceSize, stopAt - offset}));
    const ssize_t got = ::pread(file->fd.get(), piece.data(), piece.size(), static_cast<off_t>(offset));
    if (got <= 0) return false;
    if (bytesPerSecond)
      std::this_thread::sleep_for(std::chrono::microseconds(static_cast<uint64_t>(got) * 1'000'000 / *bytesPerSecond));
    return sink.write(piece.data(), static_cast<size_t>(got));
  };
}

httplib::ContentProvider cutProvider(std::shared_ptr<const std::string> body, uint64_t stopAt) {
  return [body = std::move(body), stopAt](size_t offset, size_t length, httplib::DataSink& sink) {
    if (offset >= stopAt) return false;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(length, stopAt - offset));
    return sink.write(body->data() + offset, take);
  };
}

void deliver(Reply reply, httplib::Response& response) {
  response.status = reply.status;
  for (const auto& [name, value] : reply.headers) response.set_header(name, value);
  const uint64_t stopAt = reply.dropAfterBytes.value_or(UINT64_MAX);
  if (reply.file) {
    const uint64_t size = reply.file->size;
    response.set_content_provider(size, reply.contentType,
                                  fileProvider(std::move(reply.file), stopAt, reply.bytesPerSecond));
  } else if (reply.dropAfterBytes) {
    auto body = std::make_shared<const std::string>(std::move(reply.body));
    response.set_content_provider(body->size(), reply.contentType, cutProvider(body, stopAt));
  } else if (!reply.contentType.empty()) {
    response.set_content(reply.body, reply.contentType);
  }
}

}  // namespace

HttpFront::HttpFront(Service& service, bool verbose)
    : service_(service), drive_(driveRoutes()), transfers_(transferRoutes()), admin_(adminRoutes()),
      app_(appRoutes()) {
  server_.new_task_queue = [] { return new httplib::ThreadPool(workerThreads); };
  server_.set_keep_alive_max_count(1000);
  // Headers and body go out in separate writes; without this each answer
  // waits for the client's delayed acknowledgement (40 ms on Linux).
  server_.set_tcp_nodelay(true);
  server_.set_read_timeout(30, 0);
  server_.set_write_timeout(30, 0);
  auto plain = [this](const httplib::Request& request, httplib::Response& response) {
    handle(request, response, nullptr);
  };
  auto withBody = [this](const httplib::Request& request, httplib::Response& response,
                         const httplib::ContentReader& reader) { handle(request, response, &reader); };
  // Routing is ours, on the raw target: the library's decoded path would
  // turn an encoded "/" inside an identifier into a path separator.
  const std::string any = ".*";
  server_.Get(any, plain);
  server_.Delete(any, plain);
  server_.Options(any, plain);
  server_.Post(any, withBody);
  server_.Put(any, withBody);
  server_.Patch(any, withBody);
  server_.Delete(any, withBody);
  if (verbose) {
    server_.set_logger([](const httplib::Request& request, const httplib::Response& response) {
      std::fprintf(stderr, "%s %s %d\n", request.method.c_str(), request.target.c_str(), response.status);
    });
  }
}

std::expected<int, std::string> HttpFront::bind(const std::string& host, int port) {
  if (port == 0) {
    const int bound = server_.bind_to_any_port(host);
    if (bound <= 0) return std::unexpected("cannot listen on " + host);
    return bound;
  }
  if (!server_.bind_to_port(host, port)) return std::unexpected("cannot listen on " + host + ":" + std::to_string(port));
  return port;
}

HttpFront::~HttpFront() {
  stop();
}

bool HttpFront::start() {
  thread_ = std::thread([this] {
    server_.listen_after_bind();
    ended_ = true;
  });
  // stop() only reaches a server that runs, so nobody may ask before it does.
  for (int i = 0; i < 10'000 && !server_.is_running() && !ended_; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return server_.is_running();
}

void HttpFront::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(stopping_);
    stopRequested_ = true;
  }
  stopped_.notify_all();
  server_.stop();
  thread_.join();
}

namespace {

// The server compresses answers as the request's Accept-Encoding allows,
// brotli first; brotli costs about 0.25 s of CPU for a page of 500 items, gzip
// a fourteenth of that. So the server is only ever offered gzip. (The
// request is the server's own, not a constant: it reads it again to choose
// the encoding.)
void offerOnlyGzip(const httplib::Request& request) {
  auto& headers = const_cast<httplib::Request&>(request).headers;
  auto accepted = headers.find("Accept-Encoding");
  if (accepted == headers.end()) return;
  const bool gzip = accepted->second.find("gzip") != std::string::npos;
  headers.erase(accepted);
  if (gzip) headers.emplace("Accept-Encoding", "gzip");
}

}  // namespace

void HttpFront::handle(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader* reader) {
  offerOnlyGzip(request);
  Incoming incoming(request, reader);
  Reply reply;
  try {
    reply = respond(incoming);
  } catch (const std::exception& error) {
    reply = Reply::error(500, "internal_error", error.what());
  } catch (...) {
    reply = Reply::error(500, "internal_error", "The request failed.");
  }
  try {
    incoming.drain();
    deliver(std::move(reply), response);
  } catch (...) {
    response.status = 500;
  }
}

Reply HttpFront::respond(Incoming& incoming) {
  const auto& segments = incoming.segments();
  if (!incoming.pathIsValid()) return Reply::error(400, "bad_request", "The address holds a broken escape.");
  if (startsWith(segments, {"admin"})) return dispatch(admin_, service_, incoming, below(segments, 1));

  service_.requests().record({nowMicros(), incoming.method(), incoming.target(), incoming.headerNames(),
                              incoming.header("Authorization").has_value()});
  auto fault = service_.faults().take(incoming.method(), incoming.path());
  if (fault && fault->delay.count() > 0) {
    std::unique_lock lock(stopping_);
    stopped_.wait_for(lock, fault->delay, [&] { return stopRequested_; });
  }
  Reply reply = fault && fault->status ? faultReply(*fault) : route(incoming);
  if (fault && fault->dropAfterBytes) reply.dropAfterBytes = fault->dropAfterBytes;
  if (fault && fault->bytesPerSecond) reply.bytesPerSecond = fault->bytesPerSecond;
  return reply;
}

Reply HttpFront::route(Incoming& incoming) {
  const auto& segments = incoming.segments();
  if (startsWith(segments, {"api", "drive"})) return driveRequest(incoming);
  if (startsWith(segments, {"transfers"})) return dispatch(transfers_, service_, incoming, below(segments, 1));
  if (startsWith(segments, {"app"})) return dispatch(app_, service_, incoming, below(segments, 1));
  return Reply::error(404, "not_found", "Nothing is served at this address.");
}

Reply HttpFront::driveRequest(Incoming& incoming) {
  auto unauthenticated = Reply::error(401, "not_authenticated", "Sign in to Ostrel again.");
  if (service_.takeRefusal()) return unauthenticated;
  const auto token = bearerToken(incoming);
  if (!token) return unauthenticated;
  auto valid = service_.store().read([&](const Database& db) { return tokenIsValid(db, *token, nowMicros()); });
  if (!valid) return Reply::error(valid.error());
  if (!*valid) return unauthenticated;

  auto enabled = service_.driveEnabled();
  if (!enabled) return Reply::error(enabled.error());
  if (!*enabled) return Reply::error(404, "drive_disabled", "The drive is switched off for this firm.");
  return dispatch(drive_, service_, incoming, below(incoming.segments(), 2));
}

}  // namespace ostrel::refsvc
