#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accessibility/stored_element.h"
#include "platform/foundation/error.h"

namespace ostrel::accessibility {

// The stand-in's view of the machine at one instant: whether this process is
// trusted, and the running applications with their element trees. The file
// format is documented in docs/platform.md.
struct AccessibilitySnapshot {
  struct Application {
    std::string bundleIdentifier;
    int32_t processIdentifier = 0;
    StoredElementPtr element;  // the application element; never null
  };

  bool trusted = false;
  std::vector<Application> applications;

  // Values nested deeper than this read as failing (-25204): they would
  // only cost stack, since no reader goes that deep.
  static constexpr size_t maxNesting = 512;
  // A larger file is refused unread.
  static constexpr uintmax_t maxFileSize = 64u << 20;
};

// How much of a snapshot to build. The trust flag and the application list
// are wanted at every poll; skipping the element trees makes them cheap.
enum class SnapshotPart { everything, withoutElementTrees };

// Fails with the Cocoa JSON reading error (3840) when the text is not a JSON
// object. Members of the wrong type are read as absent, not as failures.
// Without element trees every application element is empty.
std::expected<AccessibilitySnapshot, Error> parseAccessibilitySnapshot(std::string_view text,
                                                                       SnapshotPart part = SnapshotPart::everything);

// Reads and parses the file; a missing or unreadable file fails with the
// POSIX error, one over maxFileSize with EFBIG, and anything but a regular
// file (a FIFO, a device, a directory) with EINVAL, without waiting on it.
std::expected<AccessibilitySnapshot, Error> readAccessibilitySnapshot(const std::filesystem::path& file,
                                                                      SnapshotPart part = SnapshotPart::everything);

}  // namespace ostrel::accessibility
