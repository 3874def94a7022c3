#include "drive-helper/app_group.h"

#include "drive-helper/output.h"
#include "platform/security/task_entitlements.h"

namespace ostrel::drive::helper {

std::optional<std::string> entitledAppGroup() {
  const auto groups = security::TaskEntitlements::fromSelf().stringArrayForEntitlement(applicationGroupsEntitlement);
  if (!groups || groups->empty()) return std::nullopt;
  return groups->front();
}

std::string appGroup() {
  auto group = entitledAppGroup();
  if (!group) fail(std::string("no ") + applicationGroupsEntitlement + " entitlement");
  return *group;
}

}  // namespace ostrel::drive::helper
