#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <utility>

#include "drive-helper/commands.h"
#include "drive-helper/domains.h"
#include "drive-helper/output.h"
#include "drive-helper/wait.h"
#include "platform/fileprovider/manager.h"

namespace ostrel::drive::helper {

int cmdRemove(const Arguments& args) {
  if (args.size() < 2) fail("usage: remove <domain id> [--preserve]");
  const auto domain = findDomain(args[1]);
  if (!domain) {
    emit({{"ok", true}, {"removed", false}});
    return 0;
  }
  // Anywhere in the arguments, so "remove --preserve" both names the domain
  // "--preserve" and keeps its files.
  const bool preserve = std::ranges::find(args, "--preserve") != args.end();
  const auto mode =
      preserve ? fileprovider::DomainRemovalMode::preserveDirtyUserData : fileprovider::DomainRemovalMode::removeAll;

  using Answer = std::pair<std::optional<std::filesystem::path>, std::optional<Error>>;
  auto [preserved, error] = wait<Answer>([&](auto done) {
    fileprovider::removeDomain(*domain, mode,
                               [done](std::optional<std::filesystem::path> kept, std::optional<Error> failure) {
                                 done(Answer{std::move(kept), std::move(failure)});
                               });
  });
  if (error) fail("remove: " + error->localizedDescription());

  emit({{"ok", true}, {"removed", true}, {"preserved_path", preserved ? json::Value(preserved->string()) : json::Value()}});
  return 0;
}

}  // namespace ostrel::drive::helper
