#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/accessibility/stored_element.h"

namespace ostrel::accessibility::testing {

using Attributes = std::vector<std::pair<std::string, StoredValue>>;

// An element built in code: its attributes and, when given, its "AXChildren".
//   fakeElement({{"AXRoleDescription", "Video render"}, {"AXDescription", "Ann"}})
StoredElementPtr fakeElement(Attributes attributes, std::vector<StoredElementPtr> children = {});

// An application element whose "AXWindows" lists `windows` (an empty list
// when there are none, as a running application without windows answers).
StoredElementPtr fakeApplication(std::vector<StoredElementPtr> windows);

// A chain of `levels` elements, each the only child of the one before; the
// first is returned. Every element carries "AXValue" with its level number.
StoredElementPtr fakeChain(int levels);

}  // namespace ostrel::accessibility::testing
