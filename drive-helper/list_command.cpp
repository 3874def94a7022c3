#include <nlohmann/json.hpp>

#include "drive-helper/commands.h"
#include "drive-helper/domains.h"
#include "drive-helper/output.h"

namespace ostrel::drive::helper {

int cmdList(const Arguments&) {
  auto described = json::Value::array();
  for (const auto& domain : domains()) described.push_back(describe(domain));
  emit({{"ok", true}, {"domains", std::move(described)}});
  return 0;
}

}  // namespace ostrel::drive::helper
