// The reference document service: the peer of the demo and of end-to-end tests.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "tools/reference-service/demo_seed.h"
#include "tools/reference-service/http_front.h"
#include "tools/reference-service/options.h"
#include "tools/reference-service/service.h"
#include "tools/reference-service/tokens.h"

using namespace ostrel::refsvc;

namespace {

int failWith(const std::string& message) {
  std::fprintf(stderr, "ostrel-reference-service: %s\n", message.c_str());
  return 1;
}

Result<void> registerStartupTokens(Service& service, const std::vector<std::string>& tokens) {
  return service.store().write([&](Database& db) -> Result<void> {
    for (const auto& token : tokens) {
      if (auto registered = registerToken(db, token, std::nullopt); !registered) return registered;
    }
    return {};
  });
}

}  // namespace

int main(int argc, char** argv) {
  // The signals are taken by sigwait below; every thread started later inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  auto options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!options) {
    std::fprintf(stderr, "ostrel-reference-service: %s\n%s\n", options.error().c_str(), usage);
    return 2;
  }
  std::error_code error;
  std::filesystem::create_directories(options->dataDirectory, error);
  if (error) return failWith("cannot create " + options->dataDirectory.string() + ": " + error.message());

  auto service = Service::open(options->dataDirectory);
  if (!service) return failWith(service.error().message);
  if (options->seedDemo) {
    if (auto seeded = seedDemoIfEmpty(**service); !seeded) return failWith(seeded.error().message);
  }
  if (auto registered = registerStartupTokens(**service, options->tokens); !registered) {
    return failWith(registered.error().message);
  }

  HttpFront front(**service, options->verbose);
  auto port = front.bind(options->host, options->port);
  if (!port) return failWith(port.error());
  (*service)->setBase("http://" + options->host + ":" + std::to_string(*port));

  if (!front.start()) return failWith("the server stopped at once");
  std::printf("%s\n", (*service)->base().c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  front.stop();
  return 0;
}
