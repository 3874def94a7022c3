#include "platform/fileprovider/manager.h"

#include <mutex>

#include "platform/fileprovider/domain_storage.h"
#include "platform/fileprovider/system_manager_linux.h"

namespace ostrel::fileprovider {

namespace {
std::mutex lookupMutex;
ManagerLookup& currentLookup() {
  static ManagerLookup lookup;
  return lookup;
}
}  // namespace

std::shared_ptr<Manager> managerForDomain(const Domain& domain) {
  ManagerLookup lookup;
  {
    std::lock_guard lock(lookupMutex);
    lookup = currentLookup();
  }
  if (lookup) return lookup(domain);
  auto storage = DomainStorage::forDomain(domain.identifier);
  if (!storage) return nullptr;
  return std::make_shared<SystemManager>(domain, *storage);
}

void setManagerLookup(ManagerLookup lookup) {
  std::lock_guard lock(lookupMutex);
  currentLookup() = std::move(lookup);
}

}  // namespace ostrel::fileprovider
