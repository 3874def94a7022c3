#pragma once

#include <atomic>
#include <condition_variable>
#include <expected>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "tools/reference-service/routes.h"

namespace ostrel::refsvc {

// The HTTP side of the service: binds the listening socket, runs every
// request through faults, authentication and the route tables, and writes
// the answers, streaming file bodies. No exception leaves a request.
class HttpFront {
 public:
  HttpFront(Service& service, bool verbose);
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;
  ~HttpFront();

  // Port 0 takes any free port; the bound port is returned.
  std::expected<int, std::string> bind(const std::string& host, int port);
  // Serves on a thread of its own; returns once requests are being taken,
  // false when the server could not run.
  bool start();
  // Ends serving and waits for the requests under way; requests a fault
  // rule delays go on at once.
  void stop();

 private:
  void handle(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader* reader);
  Reply respond(Incoming& incoming);
  Reply route(Incoming& incoming);
  Reply driveRequest(Incoming& incoming);

  Service& service_;
  httplib::Server server_;
  std::thread thread_;
  std::atomic<bool> ended_{false};
  std::mutex stopping_;
  std::condition_variable stopped_;
  bool stopRequested_ = false;
  std::vector<Route> drive_;
  std::vector<Route> transfers_;
  std::vector<Route> admin_;
  std::vector<Route> app_;
};

}  // namespace ostrel::refsvc
