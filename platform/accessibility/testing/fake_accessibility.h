#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/accessibility/accessibility.h"
#include "platform/accessibility/stored_element.h"

namespace ostrel::accessibility::testing {

// The Accessibility interface over applications and trees built in code.
// Changes made between reads show at the next read, also through an
// application element obtained earlier. Not for use from several threads.
class FakeAccessibility final : public Accessibility {
 public:
  FakeAccessibility();

  void setTrusted(bool trusted);
  // Adds the application, or replaces the one with the same process identifier.
  void launch(std::string bundleIdentifier, int32_t processIdentifier, StoredElementPtr applicationElement);
  void quit(int32_t processIdentifier);

  bool isProcessTrusted() const override;
  std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) const override;
  Element applicationElement(int32_t processIdentifier) const override;

 private:
  struct Application {
    RunningApplication running;
    StoredElementPtr element;
  };
  struct State {
    bool trusted = false;
    std::vector<Application> applications;
  };
  class ApplicationSource;

  std::shared_ptr<State> state_;
};

}  // namespace ostrel::accessibility::testing
