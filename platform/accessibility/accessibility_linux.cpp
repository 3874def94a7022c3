#include <cstdlib>

#include "platform/accessibility/accessibility_error.h"
#include "platform/accessibility/accessibility_snapshot.h"
#include "platform/accessibility/snapshot_accessibility.h"
#include "platform/foundation/paths.h"

namespace ostrel::accessibility {

namespace {

// The application element reads the file on each of its own reads; the
// elements it hands out belong to that one reading, as a frozen view.
class SnapshotApplicationSource final : public Element::Source {
 public:
  SnapshotApplicationSource(std::filesystem::path file, int32_t processIdentifier)
      : file_(std::move(file)), processIdentifier_(processIdentifier) {}

  std::expected<AttributeValue, Error> copyAttributeValue(std::string_view attribute) const override {
    auto snapshot = readAccessibilitySnapshot(file_);
    if (!snapshot) return std::unexpected(AXError::make(AXError::cannotComplete));
    for (const auto& application : snapshot->applications) {
      if (application.processIdentifier == processIdentifier_) return application.element->copyAttributeValue(attribute);
    }
    return std::unexpected(AXError::make(AXError::cannotComplete));
  }

 private:
  std::filesystem::path file_;
  int32_t processIdentifier_;
};

class SnapshotAccessibility final : public Accessibility {
 public:
  explicit SnapshotAccessibility(std::filesystem::path file) : file_(std::move(file)) {}

  bool isProcessTrusted() const override {
    auto snapshot = readAccessibilitySnapshot(file_, SnapshotPart::withoutElementTrees);
    return snapshot && snapshot->trusted;
  }

  std::vector<RunningApplication> runningApplications(std::string_view bundleIdentifier) const override {
    std::vector<RunningApplication> out;
    auto snapshot = readAccessibilitySnapshot(file_, SnapshotPart::withoutElementTrees);
    if (!snapshot) return out;
    for (const auto& application : snapshot->applications) {
      if (application.bundleIdentifier == bundleIdentifier) {
        out.push_back({application.bundleIdentifier, application.processIdentifier});
      }
    }
    return out;
  }

  Element applicationElement(int32_t processIdentifier) const override {
    return Element(std::make_unique<SnapshotApplicationSource>(file_, processIdentifier));
  }

 private:
  std::filesystem::path file_;
};

}  // namespace

std::filesystem::path defaultSnapshotFile() {
  const char* chosen = std::getenv("OSTREL_ACCESSIBILITY_SNAPSHOT");
  if (chosen && *chosen) return chosen;
  return ostrelHome() / "Accessibility" / "snapshot.json";
}

std::unique_ptr<Accessibility> snapshotAccessibility(std::filesystem::path file) {
  return std::make_unique<SnapshotAccessibility>(std::move(file));
}

std::unique_ptr<Accessibility> systemAccessibility() { return snapshotAccessibility(defaultSnapshotFile()); }

}  // namespace ostrel::accessibility
