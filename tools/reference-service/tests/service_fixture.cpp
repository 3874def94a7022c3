#include "tools/reference-service/tests/service_fixture.h"

#include <csignal>

namespace ostrel::refsvc::testing {

void ServiceTest::SetUp() {
  ASSERT_FALSE(directory_.path().empty());
  startService();
}

void ServiceTest::startService() {
  auto started = ServiceProcess::start({.dataDirectory = directory_.path() / "data", .tokens = {partnerToken}});
  ASSERT_TRUE(started.has_value()) << started.error();
  process_.emplace(std::move(*started));
  client_ = std::make_unique<ServiceClient>(process_->base(), partnerToken);
}

void ServiceTest::stopService() {
  if (!process_) return;
  auto status = process_->stop(SIGTERM);
  process_.reset();
  ASSERT_TRUE(status.has_value()) << status.error();
  EXPECT_EQ(*status, 0);
}

void ServiceTest::TearDown() {
  stopService();
}

json ServiceTest::itemAt(const std::string& container, const std::vector<std::string>& names) const {
  std::string current = container;
  json found;
  for (const auto& name : names) {
    auto child = client_->childNamed(current, name);
    if (!child) {
      ADD_FAILURE() << "no " << name << " in " << current;
      return json();
    }
    found = *child;
    current = found["identifier"];
  }
  return found;
}

std::string ServiceTest::idAt(const std::string& container, const std::vector<std::string>& names) const {
  auto found = itemAt(container, names);
  return found.is_object() ? found["identifier"].get<std::string>() : "";
}

}  // namespace ostrel::refsvc::testing
