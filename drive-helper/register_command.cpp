#include <nlohmann/json.hpp>
#include <utility>

#include "drive-helper/app_group.h"
#include "drive-helper/commands.h"
#include "drive-helper/domains.h"
#include "drive-helper/output.h"
#include "drive-helper/wait.h"
#include "drive/shared/drive_domain_config.h"
#include "platform/fileprovider/manager.h"
#include "platform/foundation/atomic_file.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/user_defaults.h"

namespace ostrel::drive::helper {

namespace {

// The configuration is replaced whole, so that an extension starting at the
// same moment reads the old record or the new one, never half of one.
void writeConfig(const std::filesystem::path& file, const DriveDomainConfig& config) {
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  if (error) fail("write config: " + POSIXError::make(error.value()).localizedDescription());
  if (auto written = writeFileAtomically(file, config.encoded()); !written) {
    fail("write config: " + written.error().localizedDescription());
  }
}

}  // namespace

int cmdRegister(const Arguments& args) {
  if (args.size() != 4) fail("usage: register <domain id> <display name> <api base>");
  const std::string& domainID = args[1];
  const std::string& displayName = args[2];
  const std::string& apiBase = args[3];

  // Checked before anything is written: an identifier such as "../x" would
  // put the configuration outside the container.
  if (!DriveDomainConfig::url({}, domainID)) fail("invalid domain identifier");

  const std::string group = appGroup();
  const auto container = containerForApplicationGroup(group);
  if (!container) fail("no container for " + group);
  writeConfig(*DriveDomainConfig::url(*container, domainID), DriveDomainConfig{apiBase, displayName});

  if (auto existing = findDomain(domainID)) {
    emit({{"ok", true}, {"added", false}, {"domain", describe(*existing)}});
    return 0;
  }

  const fileprovider::Domain domain{.identifier = domainID, .displayName = displayName};
  auto error = wait<std::optional<Error>>(
      [&domain](auto done) { fileprovider::addDomain(domain, [done](std::optional<Error> failure) { done(failure); }); });
  if (error) fail("add: " + error->localizedDescription());

  // A new domain has nothing to re-import: its first serve must not do it.
  if (auto defaults = UserDefaults::suite(group)) {
    (void)defaults->setInteger(driveLayoutReimportGeneration, layoutReimportKey(domainID));
  }

  const auto added = findDomain(domainID);
  emit({{"ok", true}, {"added", true}, {"domain", describe(added.value_or(domain))}});
  return 0;
}

}  // namespace ostrel::drive::helper
