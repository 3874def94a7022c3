#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/url.h"

namespace ostrel::testing {

// The reference document service as a child process on a free loopback
// port, with its data in a fresh directory; stopped and removed when the
// object goes. For end-to-end tests.
class ReferenceService {
 public:
  struct Options {
    bool seedDemo = true;
    std::vector<std::string> tokens = {"test-token"};
    // Keep the data of an earlier run (for restart tests); empty: a fresh one.
    std::filesystem::path dataDirectory;
  };

  ReferenceService() : ReferenceService(Options{}) {}
  explicit ReferenceService(Options options);
  ~ReferenceService();
  ReferenceService(const ReferenceService&) = delete;
  ReferenceService& operator=(const ReferenceService&) = delete;

  // False when the service did not start (the reason went to stderr).
  bool running() const { return pid_ > 0 && !base_.empty(); }
  const std::string& base() const { return base_; }
  URL baseURL() const { return *URL::parse(base_); }
  const std::filesystem::path& dataDirectory() const { return data_; }

  // Stops the process (SIGTERM) and waits for it; the data stays.
  void stop();

  // The service's admin routes: POST/DELETE/GET with a JSON body; answers
  // the status and body (status 0 when the request failed).
  struct Answer {
    long status = 0;
    std::string body;
  };
  Answer admin(const std::string& method, const std::string& path, const std::string& body = "{}") const;
  // An API request with the first token, for setting things up.
  Answer api(const std::string& method, const std::string& path, const std::string& body = "") const;

 private:
  pid_t pid_ = -1;
  std::string base_;
  std::filesystem::path data_;
  bool ownsData_ = false;
  std::string token_;
};

}  // namespace ostrel::testing
