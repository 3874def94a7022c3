#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "tools/reference-service/tests/service_client.h"
#include "tools/reference-service/tests/service_process.h"

namespace ostrel::refsvc::testing {

inline constexpr const char* partnerToken = "partner-token";

// A service with the demo data, started fresh for each test in its own directory.
class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The service stops with SIGTERM and must exit 0 (sanitizer reports make it fail).
  void stopService();
  void startService();

  // The seeded item with this name, found by walking the path of names from a container.
  json itemAt(const std::string& container, const std::vector<std::string>& names) const;
  std::string idAt(const std::string& container, const std::vector<std::string>& names) const;

  TemporaryDirectory directory_;
  std::optional<ServiceProcess> process_;
  std::unique_ptr<ServiceClient> client_;
};

}  // namespace ostrel::refsvc::testing
