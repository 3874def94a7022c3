#include "platform/fileprovider/domain_registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>
#include <type_traits>

#include "platform/fileprovider/domain_storage.h"
#include "platform/foundation/atomic_file.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::fileprovider {

namespace {

Error registryError(const std::string& what, int errnoValue) {
  Error error = POSIXError::make(errnoValue);
  error.userInfo[localizedDescriptionKey] = "domain registry: " + what + ": " + std::strerror(errnoValue);
  return error;
}

// Held for the whole read-modify-write; readers take it shared.
std::expected<UniqueFd, Error> lockRegistry(const std::filesystem::path& directory, int operation) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) return std::unexpected(registryError("create " + directory.string(), ec.value()));
  UniqueFd fd(::open((directory / "domains.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd) return std::unexpected(registryError("open lock", errno));
  while (::flock(fd.get(), operation) != 0) {
    if (errno != EINTR) return std::unexpected(registryError("lock", errno));
  }
  return fd;
}

std::expected<std::vector<Domain>, Error> readDomains(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec) && !ec) return std::vector<Domain>{};
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  // What the open failed on (permission denied, a loop of links), not a generic I/O error.
  if (!in) return std::unexpected(registryError("read " + file.string(), ec ? ec.value() : errno ? errno : EIO));
  std::stringstream bytes;
  bytes << in.rdbuf();
  auto json = nlohmann::json::parse(bytes.str(), nullptr, false);
  if (json.is_discarded() || !json.is_object() || !json.contains("domains") || !json["domains"].is_array()) {
    return std::unexpected(registryError(file.string() + " is damaged", EINVAL));
  }
  // A member of the wrong type reads as absent: `value()` would throw.
  auto member = [](const nlohmann::json& entry, const char* key, auto fallback) {
    const auto found = entry.find(key);
    if (found == entry.end()) return fallback;
    if constexpr (std::is_same_v<decltype(fallback), bool>) {
      return found->is_boolean() ? found->template get<bool>() : fallback;
    } else {
      return found->is_string() ? found->template get<std::string>() : fallback;
    }
  };
  std::vector<Domain> domains;
  for (const auto& entry : json["domains"]) {
    if (!entry.is_object() || !entry.value("identifier", nlohmann::json()).is_string()) continue;
    Domain domain;
    domain.identifier = entry["identifier"].get<std::string>();
    domain.displayName = member(entry, "display_name", std::string());
    domain.userEnabled = member(entry, "user_enabled", true);
    domain.disconnected = member(entry, "disconnected", false);
    domains.push_back(std::move(domain));
  }
  return domains;
}

std::expected<void, Error> writeDomains(const std::filesystem::path& file, const std::vector<Domain>& domains) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& domain : domains) {
    list.push_back({{"identifier", domain.identifier},
                    {"display_name", domain.displayName},
                    {"user_enabled", domain.userEnabled},
                    {"disconnected", domain.disconnected}});
  }
  std::string text = nlohmann::json{{"domains", list}}.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  text += '\n';
  if (auto written = writeFileAtomically(file, text, 0600); !written) {
    return std::unexpected(registryError("replace " + file.string(), static_cast<int>(written.error().code)));
  }
  return {};
}

}  // namespace

DomainRegistry DomainRegistry::system() {
  return DomainRegistry(fileProviderHome());
}

std::expected<std::vector<Domain>, Error> DomainRegistry::domains() const {
  auto lock = lockRegistry(directory_, LOCK_SH);
  if (!lock) return std::unexpected(lock.error());
  return readDomains(file());
}

std::expected<bool, Error> DomainRegistry::add(const Domain& domain) const {
  auto lock = lockRegistry(directory_, LOCK_EX);
  if (!lock) return std::unexpected(lock.error());
  auto domains = readDomains(file());
  if (!domains) return std::unexpected(domains.error());
  for (const auto& existing : *domains) {
    if (existing.identifier == domain.identifier) return false;
  }
  domains->push_back(domain);
  if (auto written = writeDomains(file(), *domains); !written) return std::unexpected(written.error());
  return true;
}

std::expected<std::optional<Domain>, Error> DomainRegistry::remove(const std::string& identifier) const {
  auto lock = lockRegistry(directory_, LOCK_EX);
  if (!lock) return std::unexpected(lock.error());
  auto domains = readDomains(file());
  if (!domains) return std::unexpected(domains.error());
  for (auto it = domains->begin(); it != domains->end(); ++it) {
    if (it->identifier != identifier) continue;
    Domain removed = *it;
    domains->erase(it);
    if (auto written = writeDomains(file(), *domains); !written) return std::unexpected(written.error());
    return removed;
  }
  return std::nullopt;
}

std::expected<bool, Error> DomainRegistry::setDisconnected(const std::string& identifier, bool disconnected) const {
  auto lock = lockRegistry(directory_, LOCK_EX);
  if (!lock) return std::unexpected(lock.error());
  auto domains = readDomains(file());
  if (!domains) return std::unexpected(domains.error());
  for (auto& domain : *domains) {
    if (domain.identifier != identifier) continue;
    if (domain.disconnected == disconnected) return true;
    domain.disconnected = disconnected;
    if (auto written = writeDomains(file(), *domains); !written) return std::unexpected(written.error());
    return true;
  }
  return false;
}

}  // namespace ostrel::fileprovider
