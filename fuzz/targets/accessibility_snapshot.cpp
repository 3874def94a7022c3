// The accessibility stand-in's snapshot file, as the speaker probe and the
// Word bridge read it, whole and without the element trees.

#include "fuzz/fuzz_target.h"
#include "platform/accessibility/accessibility_snapshot.h"

using namespace ostrel::accessibility;

namespace {

// Reads every attribute of the tree through the element interface, as the
// readers do; `budget` bounds the walk.
void walk(const StoredElementPtr& element, int& budget);

void walkValue(const StoredValue& value, int& budget) {
  if (const auto* child = std::get_if<StoredElementPtr>(&value.value)) {
    FUZZ_CHECK(*child != nullptr);
    walk(*child, budget);
  } else if (const auto* array = std::get_if<StoredValue::Array>(&value.value)) {
    for (const auto& item : *array) walkValue(item, budget);
  }
}

void walk(const StoredElementPtr& element, int& budget) {
  if (--budget < 0) return;
  for (const auto& [name, value] : element->attributes) {
    (void)element->copyAttributeValue(name);
    walkValue(value, budget);
  }
}

}  // namespace

FUZZ_TARGET(accessibility_snapshot) {
  const auto whole = parseAccessibilitySnapshot(input);
  const auto light = parseAccessibilitySnapshot(input, SnapshotPart::withoutElementTrees);
  FUZZ_CHECK(whole.has_value() == light.has_value());
  if (!whole) return;
  FUZZ_CHECK(whole->trusted == light->trusted);
  FUZZ_CHECK(whole->applications.size() == light->applications.size());
  for (size_t k = 0; k < whole->applications.size(); ++k) {
    FUZZ_CHECK(whole->applications[k].element != nullptr);
    int budget = 10000;
    walk(whole->applications[k].element, budget);
    FUZZ_CHECK(whole->applications[k].bundleIdentifier == light->applications[k].bundleIdentifier);
    FUZZ_CHECK(whole->applications[k].processIdentifier == light->applications[k].processIdentifier);
  }
}
