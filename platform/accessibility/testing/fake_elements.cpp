#include "platform/accessibility/testing/fake_elements.h"

#include "platform/accessibility/attribute_names.h"

namespace ostrel::accessibility::testing {

namespace {
StoredValue::Array asArray(std::vector<StoredElementPtr> elements) {
  StoredValue::Array array;
  array.reserve(elements.size());
  for (auto& element : elements) array.emplace_back(std::move(element));
  return array;
}
}  // namespace

StoredElementPtr fakeElement(Attributes attributes, std::vector<StoredElementPtr> children) {
  auto element = std::make_shared<StoredElement>();
  element->attributes = std::move(attributes);
  if (!children.empty()) element->attributes.emplace_back(childrenAttribute, asArray(std::move(children)));
  return element;
}

StoredElementPtr fakeApplication(std::vector<StoredElementPtr> windows) {
  return fakeElement({{windowsAttribute, asArray(std::move(windows))}});
}

StoredElementPtr fakeChain(int levels) {
  StoredElementPtr below;
  for (int level = levels - 1; level >= 0; --level) {
    std::vector<StoredElementPtr> children;
    if (below) children.push_back(std::move(below));
    below = fakeElement({{valueAttribute, std::to_string(level)}}, std::move(children));
  }
  return below;
}

}  // namespace ostrel::accessibility::testing
