#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "drive-helper/app_group.h"
#include "drive-helper/commands.h"
#include "drive-helper/domains.h"
#include "drive-helper/host.h"
#include "drive-helper/input_lines.h"
#include "drive-helper/output.h"
#include "platform/fileprovider/manager.h"
#include "platform/foundation/dispatch_queue.h"
#include "platform/foundation/user_defaults.h"

namespace ostrel::drive::helper {

void cmdServe(const Arguments& args) {
  if (args.size() != 2) fail("usage: serve <domain id>");
  const std::string& domainID = args[1];
  const auto domain = findDomain(domainID);
  auto manager = domain ? fileprovider::managerForDomain(*domain) : nullptr;
  if (!manager) fail("no domain " + domainID);
  // Resolved before the first event, so that a missing entitlement is the
  // only line printed.
  auto defaults = UserDefaults::suite(appGroup());

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  auto queue = std::make_shared<MainQueue>();
  auto host = Host::create({
      .manager = std::move(manager),
      .domainID = domainID,
      .queue = queue,
      .listDomains = [](auto completion) { fileprovider::getDomains(std::move(completion)); },
      .defaults = std::move(defaults),
      .emit = emit,
  });
  host->start();

  std::thread([queue, weakHost = std::weak_ptr<Host>(host)] {
    readMessages(
        std::cin,
        [&](json::Value message) {
          queue->async([weakHost, message = std::move(message)] {
            if (auto live = weakHost.lock()) live->handle(message);
          });
        },
        // Through the main queue, so that it comes after the answers to earlier lines.
        [&](std::string problem) {
          queue->async([problem = std::move(problem)] { emit({{"event", "error"}, {"message", problem}}); });
        });
    // The desktop application is gone: end at once, whatever the main queue is doing.
    exitNow(0);
  }).detach();

  queue->run();
  exitNow(0);
}

}  // namespace ostrel::drive::helper
