#include "drive-helper/domains.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

#include "drive-helper/output.h"
#include "drive-helper/wait.h"
#include "platform/fileprovider/manager.h"

namespace ostrel::drive::helper {

using fileprovider::Domain;

std::vector<Domain> domains() {
  using Answer = std::pair<std::vector<Domain>, std::optional<Error>>;
  auto [list, error] = wait<Answer>([](auto done) {
    fileprovider::getDomains([done](std::vector<Domain> found, std::optional<Error> failure) {
      done(Answer{std::move(found), std::move(failure)});
    });
  });
  if (error) fail("getDomains: " + error->localizedDescription());
  return list;
}

std::optional<Domain> findDomain(std::string_view identifier) {
  const auto all = domains();
  const auto found = std::ranges::find(all, identifier, &Domain::identifier);
  if (found == all.end()) return std::nullopt;
  return *found;
}

json::Value describe(const Domain& domain) {
  return {{"id", domain.identifier},
          {"display_name", domain.displayName},
          {"user_enabled", domain.userEnabled},
          {"disconnected", domain.disconnected}};
}

}  // namespace ostrel::drive::helper
