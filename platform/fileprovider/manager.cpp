#include "platform/fileprovider/manager.h"

#include <mutex>

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
  return lookup ? lookup(domain) : nullptr;
}

void setManagerLookup(ManagerLookup lookup) {
  std::lock_guard lock(lookupMutex);
  currentLookup() = std::move(lookup);
}

}  // namespace ostrel::fileprovider
