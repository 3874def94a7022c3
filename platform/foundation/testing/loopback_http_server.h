#pragma once

#include <httplib.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::testing {

// A real HTTP server on 127.0.0.1 for tests, on a free port. Every request
// is recorded and answered by the handler set for it (404 when none).
class LoopbackHttpServer {
 public:
  struct Recorded {
    std::string method;
    std::string target;  // path and query exactly as sent
    std::string path;    // decoded path
    httplib::Headers headers;
    std::string body;

    std::string header(const std::string& name) const;
  };
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  LoopbackHttpServer();
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  // "http://127.0.0.1:<port>"
  std::string base() const;
  int port() const { return port_; }

  // Answers requests whose method and decoded path are these (an empty
  // method matches any); the last handler set wins.
  void on(std::string method, std::string path, Handler handler);
  // Answers every request not otherwise handled.
  void fallback(Handler handler);
  std::vector<Recorded> requests() const;
  void clearRequests();

  // Handlers that answer in turn: each request takes the next one; the last
  // one answers all further requests.
  static Handler sequence(std::vector<Handler> handlers);
  static Handler json(int status, std::string body);

 private:
  void dispatch(const httplib::Request& request, httplib::Response& response);

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  struct Route {
    std::string method;
    std::string path;
    Handler handler;
  };
  std::vector<Route> routes_;
  Handler fallback_;
  std::vector<Recorded> requests_;
};

}  // namespace ostrel::testing
