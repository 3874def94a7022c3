#include "platform/accessibility/testing/fake_accessibility.h"

#include <algorithm>

#include "platform/accessibility/accessibility_error.h"

namespace ostrel::accessibility::testing {

class FakeAccessibility::ApplicationSource final : public Element::Source {
 public:
  ApplicationSource(std::shared_ptr<const State> state, int32_t processIdentifier)
      : state_(std::move(state)), processIdentifier_(processIdentifier) {}

  std::expected<AttributeValue, Error> copyAttributeValue(std::string_view attribute) const override {
    for (const auto& application : state_->applications) {
      if (application.running.processIdentifier == processIdentifier_) {
        return application.element->copyAttributeValue(attribute);
      }
    }
    return std::unexpected(AXError::make(AXError::cannotComplete));
  }

 private:
  std::shared_ptr<const State> state_;
  int32_t processIdentifier_;
};

FakeAccessibility::FakeAccessibility() : state_(std::make_shared<State>()) {}

void FakeAccessibility::setTrusted(bool trusted) { state_->trusted = trusted; }

void FakeAccessibility::launch(std::string bundleIdentifier, int32_t processIdentifier,
                               StoredElementPtr applicationElement) {
  if (!applicationElement) applicationElement = std::make_shared<StoredElement>();
  Application application{{std::move(bundleIdentifier), processIdentifier}, std::move(applicationElement)};
  auto& applications = state_->applications;
  auto existing = std::find_if(applications.begin(), applications.end(), [&](const Application& a) {
    return a.running.processIdentifier == processIdentifier;
  });
  if (existing != applications.end()) {
    *existing = std::move(application);
  } else {
    applications.push_back(std::move(application));
  }
}

void FakeAccessibility::quit(int32_t processIdentifier) {
  std::erase_if(state_->applications,
                [&](const Application& a) { return a.running.processIdentifier == processIdentifier; });
}

bool FakeAccessibility::isProcessTrusted() const { return state_->trusted; }

std::vector<RunningApplication> FakeAccessibility::runningApplications(std::string_view bundleIdentifier) const {
  std::vector<RunningApplication> out;
  for (const auto& application : state_->applications) {
    if (application.running.bundleIdentifier == bundleIdentifier) out.push_back(application.running);
  }
  return out;
}

Element FakeAccessibility::applicationElement(int32_t processIdentifier) const {
  return Element(std::make_unique<ApplicationSource>(state_, processIdentifier));
}

}  // namespace ostrel::accessibility::testing
