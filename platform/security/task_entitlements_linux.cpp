#include <cstdlib>
#include <string>

#include "platform/security/task_entitlements.h"

namespace ostrel::security {

namespace fs = std::filesystem;

std::optional<fs::path> entitlementsFileOfSelf() {
  if (const char* named = std::getenv("OSTREL_ENTITLEMENTS_FILE")) {
    if (*named == '\0') return std::nullopt;
    return fs::path(named);
  }
  // The executable of the task, not a library it loaded: entitlements are
  // signed into the program.
  std::error_code error;
  const fs::path program = fs::canonical("/proc/self/exe", error);
  if (error) return std::nullopt;
  return fs::path(program.string() + ".entitlements");
}

TaskEntitlements TaskEntitlements::fromFile(const fs::path& file) {
  TaskEntitlements entitlements;
  if (auto list = PropertyList::readFile(file)) entitlements.list_ = std::move(*list);
  return entitlements;
}

TaskEntitlements TaskEntitlements::fromSelf() {
  auto file = entitlementsFileOfSelf();
  return file ? fromFile(*file) : TaskEntitlements{};
}

std::optional<std::vector<std::string>> TaskEntitlements::stringArrayForEntitlement(std::string_view name) const {
  return list_ ? list_->stringArrayForKey(name) : std::nullopt;
}

}  // namespace ostrel::security
