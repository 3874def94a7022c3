#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/accessibility/element.h"

namespace ostrel::accessibility {

struct StoredElement;
using StoredElementPtr = std::shared_ptr<const StoredElement>;

// An attribute whose read fails with this AXError code.
struct AttributeFailure {
  long code = 0;
};

// An attribute value held in memory. Elements are shared, so an element
// handed out keeps its subtree alive after the tree it came from is gone.
struct StoredValue {
  using Array = std::vector<StoredValue>;
  std::variant<std::string, double, bool, StoredElementPtr, Array, AttributeFailure> value;

  StoredValue(const char* text) : value(std::string(text)) {}
  StoredValue(std::string text) : value(std::move(text)) {}
  StoredValue(double number) : value(number) {}
  StoredValue(int number) : value(static_cast<double>(number)) {}
  StoredValue(bool flag) : value(flag) {}
  StoredValue(StoredElementPtr element) : value(std::move(element)) {}
  StoredValue(Array array) : value(std::move(array)) {}
  StoredValue(AttributeFailure failure) : value(failure) {}
};

// One element of an immutable tree held in memory: what the snapshot
// stand-in reads from its file and what tests build in code. A name that
// appears twice reads as its last value.
struct StoredElement {
  std::vector<std::pair<std::string, StoredValue>> attributes;

  // The value under `attribute`: the AXError for a missing attribute or a
  // stored failure, elements wrapped as Elements reading this tree.
  std::expected<AttributeValue, Error> copyAttributeValue(std::string_view attribute) const;
};

// An Element that reads its attributes from `stored`.
Element storedElement(StoredElementPtr stored);

}  // namespace ostrel::accessibility
