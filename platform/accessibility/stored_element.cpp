#include "platform/accessibility/stored_element.h"

#include "platform/accessibility/accessibility_error.h"

namespace ostrel::accessibility {

namespace {

class StoredElementSource final : public Element::Source {
 public:
  explicit StoredElementSource(StoredElementPtr stored) : stored_(std::move(stored)) {}
  std::expected<AttributeValue, Error> copyAttributeValue(std::string_view attribute) const override {
    return stored_->copyAttributeValue(attribute);
  }

 private:
  StoredElementPtr stored_;
};

std::expected<AttributeValue, Error> handOut(const StoredValue& stored) {
  struct Visitor {
    std::expected<AttributeValue, Error> operator()(const std::string& text) const { return AttributeValue{text}; }
    std::expected<AttributeValue, Error> operator()(double number) const { return AttributeValue{number}; }
    std::expected<AttributeValue, Error> operator()(bool flag) const { return AttributeValue{flag}; }
    std::expected<AttributeValue, Error> operator()(const StoredElementPtr& element) const {
      if (!element) return std::unexpected(AXError::make(AXError::invalidUIElement));
      return AttributeValue{storedElement(element)};
    }
    std::expected<AttributeValue, Error> operator()(const StoredValue::Array& array) const {
      AttributeValue::Array out;
      out.reserve(array.size());
      for (const StoredValue& member : array) {
        auto value = handOut(member);
        // An array cannot hold a failure; the whole read fails instead.
        if (!value) return std::unexpected(std::move(value.error()));
        out.push_back(std::move(*value));
      }
      return AttributeValue{std::move(out)};
    }
    std::expected<AttributeValue, Error> operator()(AttributeFailure failure) const {
      return std::unexpected(AXError::make(failure.code));
    }
  };
  return std::visit(Visitor{}, stored.value);
}

}  // namespace

std::expected<AttributeValue, Error> StoredElement::copyAttributeValue(std::string_view attribute) const {
  for (auto it = attributes.rbegin(); it != attributes.rend(); ++it) {
    if (it->first == attribute) return handOut(it->second);
  }
  return std::unexpected(AXError::make(AXError::attributeUnsupported));
}

Element storedElement(StoredElementPtr stored) {
  return Element(std::make_unique<StoredElementSource>(std::move(stored)));
}

}  // namespace ostrel::accessibility
