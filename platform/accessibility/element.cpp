#include "platform/accessibility/element.h"

#include "platform/accessibility/accessibility_error.h"

namespace ostrel::accessibility {

Element::Element(std::unique_ptr<const Source> source) : source_(std::move(source)) {}
Element::Element(Element&&) noexcept = default;
Element& Element::operator=(Element&&) noexcept = default;
Element::~Element() = default;

std::expected<AttributeValue, Error> Element::copyAttributeValue(std::string_view attribute) const {
  if (!source_) return std::unexpected(AXError::make(AXError::invalidUIElement));
  return source_->copyAttributeValue(attribute);
}

}  // namespace ostrel::accessibility
