#include "platform/foundation/testing/loopback_http_server.h"

#include <memory>
#include <chrono>
#include <stdexcept>

namespace ostrel::testing {

std::string LoopbackHttpServer::Recorded::header(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

LoopbackHttpServer::LoopbackHttpServer() {
  auto handler = [this](const httplib::Request& request, httplib::Response& response) { dispatch(request, response); };
  const std::string any = ".*";
  server_.Get(any, handler);
  server_.Post(any, handler);
  server_.Put(any, handler);
  server_.Patch(any, handler);
  server_.Delete(any, handler);
  server_.Options(any, handler);
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // stop() does nothing before the server runs, so wait for it (bounded).
  for (int i = 0; i < 500 && !server_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

LoopbackHttpServer::~LoopbackHttpServer() {
  server_.stop();
  if (thread_.joinable()) thread_.join();
}

std::string LoopbackHttpServer::base() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void LoopbackHttpServer::on(std::string method, std::string path, Handler handler) {
  std::lock_guard lock(mutex_);
  routes_.push_back({std::move(method), std::move(path), std::move(handler)});
}

void LoopbackHttpServer::fallback(Handler handler) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(handler);
}

std::vector<LoopbackHttpServer::Recorded> LoopbackHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void LoopbackHttpServer::clearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

void LoopbackHttpServer::dispatch(const httplib::Request& request, httplib::Response& response) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back({request.method, request.target, request.path, request.headers, request.body});
    for (auto it = routes_.rbegin(); it != routes_.rend(); ++it) {
      if ((it->method.empty() || it->method == request.method) && it->path == request.path) {
        handler = it->handler;
        break;
      }
    }
    if (!handler) handler = fallback_;
  }
  if (handler) {
    handler(request, response);
  } else {
    response.status = 404;
  }
}

LoopbackHttpServer::Handler LoopbackHttpServer::sequence(std::vector<Handler> handlers) {
  auto state = std::make_shared<std::pair<std::mutex, size_t>>();
  return [handlers = std::move(handlers), state](const httplib::Request& request, httplib::Response& response) {
    size_t index;
    {
      std::lock_guard lock(state->first);
      index = std::min(state->second++, handlers.size() - 1);
    }
    handlers[index](request, response);
  };
}

LoopbackHttpServer::Handler LoopbackHttpServer::json(int status, std::string body) {
  return [status, body = std::move(body)](const httplib::Request&, httplib::Response& response) {
    response.status = status;
    response.set_content(body, "application/json");
  };
}

}  // namespace ostrel::testing
