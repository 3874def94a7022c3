#pragma once

#include <filesystem>
#include <memory>

#include "platform/accessibility/accessibility.h"

namespace ostrel::accessibility {

// The Linux stand-in for the Accessibility interface: every call reads the
// snapshot file afresh, so whoever writes the file changes what the next
// call sees. A missing or unreadable file is an untrusted process with no
// running applications. Format and paths: docs/platform.md.

// $OSTREL_ACCESSIBILITY_SNAPSHOT, else $OSTREL_HOME/Accessibility/snapshot.json.
std::filesystem::path defaultSnapshotFile();

std::unique_ptr<Accessibility> snapshotAccessibility(std::filesystem::path file);

}  // namespace ostrel::accessibility
