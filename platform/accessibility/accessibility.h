#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accessibility/element.h"

namespace ostrel::accessibility {

// One entry of NSRunningApplication's list.
struct RunningApplication {
  std::string bundleIdentifier;
  int32_t processIdentifier = 0;
};

// The calls of the Accessibility interface (and the one workspace call that
// finds an application to read) that a program makes.
class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // AXIsProcessTrusted: asked without prompting the user.
  virtual bool isProcessTrusted() const = 0;
  // NSRunningApplication runningApplicationsWithBundleIdentifier:, in the
  // system's order.
  virtual std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) const = 0;
  // AXUIElementCreateApplication: never fails; reading an element of a
  // process that is gone fails instead.
  virtual Element applicationElement(int32_t processIdentifier) const = 0;
};

// The machine's own Accessibility interface (on Linux the snapshot-file
// stand-in, see snapshot_accessibility.h).
std::unique_ptr<Accessibility> systemAccessibility();

}  // namespace ostrel::accessibility
