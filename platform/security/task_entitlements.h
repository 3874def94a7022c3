#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/foundation/property_list.h"

namespace ostrel::security {

// SecTaskCreateFromSelf + SecTaskCopyValueForEntitlement: what the running
// program was signed with. Here a program's entitlements are an XML (or
// binary) property list beside its executable, `<executable>.entitlements`;
// OSTREL_ENTITLEMENTS_FILE names another file instead, and set but empty
// means the program has none.
class TaskEntitlements {
 public:
  static TaskEntitlements fromSelf();
  // The entitlements in a given file; none when it is missing or unreadable.
  static TaskEntitlements fromFile(const std::filesystem::path& file);

  // The value when it is an array of strings; nothing otherwise (absent,
  // another type, or no entitlements at all).
  std::optional<std::vector<std::string>> stringArrayForEntitlement(std::string_view name) const;
  bool empty() const { return !list_; }

 private:
  std::optional<PropertyList> list_;
};

// Where the running program's entitlements are read from; nothing when it has none.
std::optional<std::filesystem::path> entitlementsFileOfSelf();

}  // namespace ostrel::security
