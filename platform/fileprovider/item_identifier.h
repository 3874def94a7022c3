#pragma once

#include <compare>
#include <string>

namespace ostrel::fileprovider {

// The framework's name for an item. Distinct from the service's identifier
// so that the two cannot be mixed up unnoticed.
struct ItemIdentifier {
  std::string rawValue;

  friend auto operator<=>(const ItemIdentifier&, const ItemIdentifier&) = default;
};

inline const ItemIdentifier rootContainerItemIdentifier{"NSFileProviderRootContainerItemIdentifier"};
inline const ItemIdentifier workingSetItemIdentifier{"NSFileProviderWorkingSetContainerItemIdentifier"};

}  // namespace ostrel::fileprovider
