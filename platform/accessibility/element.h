#pragma once

#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/foundation/error.h"

namespace ostrel::accessibility {

struct AttributeValue;

// AXUIElementRef: one element of an application's user interface. It owns
// its handle: moves pass it on, copies are never made. A moved-from element
// answers every read with the invalid-element error.
class Element {
 public:
  // What answers for an element: the system, a snapshot, or a tree built in code.
  class Source {
   public:
    virtual ~Source() = default;
    virtual std::expected<AttributeValue, Error> copyAttributeValue(std::string_view attribute) const = 0;
  };

  explicit Element(std::unique_ptr<const Source> source);
  Element(Element&&) noexcept;
  Element& operator=(Element&&) noexcept;
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;
  ~Element();

  // AXUIElementCopyAttributeValue: the value, or the AXError the call gave.
  std::expected<AttributeValue, Error> copyAttributeValue(std::string_view attribute) const;

 private:
  std::unique_ptr<const Source> source_;
};

// What an attribute holds, by the types the interface hands out: a string,
// a number, a boolean, an element, or an array of any of these.
struct AttributeValue {
  using Array = std::vector<AttributeValue>;
  std::variant<std::string, double, bool, Element, Array> value;

  const std::string* string() const { return std::get_if<std::string>(&value); }
  const Array* array() const { return std::get_if<Array>(&value); }
};

}  // namespace ostrel::accessibility
