#include "platform/accessibility/testing/fake_accessibility.h"

#include <gtest/gtest.h>

#include "platform/accessibility/accessibility_error.h"
#include "platform/accessibility/testing/fake_elements.h"

namespace ostrel::accessibility::testing {
namespace {

size_t windowCount(const Element& application) {
  auto windows = application.copyAttributeValue("AXWindows");
  return windows && windows->array() ? windows->array()->size() : 0;
}

TEST(FakeAccessibilityTest, ChangesShowThroughAnApplicationElementObtainedBefore) {
  FakeAccessibility fake;
  fake.launch("us.zoom.xos", 42, fakeApplication({}));
  const Element application = fake.applicationElement(42);
  EXPECT_EQ(windowCount(application), 0u);

  fake.launch("us.zoom.xos", 42, fakeApplication({fakeElement({}), fakeElement({})}));
  EXPECT_EQ(windowCount(application), 2u);
  EXPECT_EQ(fake.runningApplications("us.zoom.xos").size(), 1u);

  fake.quit(42);
  auto windows = application.copyAttributeValue("AXWindows");
  ASSERT_FALSE(windows);
  EXPECT_EQ(windows.error().code, AXError::cannotComplete);
  EXPECT_TRUE(fake.runningApplications("us.zoom.xos").empty());
}

TEST(FakeAccessibilityTest, StoredFailuresAndMovedFromElements) {
  auto element = fakeElement({{"AXValue", AttributeFailure{AXError::noValue}}, {"AXTitle", "t"}});
  Element first = storedElement(element);
  Element second = std::move(first);
  auto value = second.copyAttributeValue("AXValue");
  ASSERT_FALSE(value);
  EXPECT_EQ(value.error().code, AXError::noValue);
  EXPECT_TRUE(second.copyAttributeValue("AXTitle"));
  // The moved-from handle answers like an element that is gone.
  auto gone = first.copyAttributeValue("AXTitle");  // NOLINT(bugprone-use-after-move)
  ASSERT_FALSE(gone);
  EXPECT_EQ(gone.error().code, AXError::invalidUIElement);
}

}  // namespace
}  // namespace ostrel::accessibility::testing
