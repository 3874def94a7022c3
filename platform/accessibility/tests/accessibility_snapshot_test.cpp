#include "platform/accessibility/accessibility_snapshot.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/accessibility/accessibility_error.h"

namespace ostrel::accessibility {
namespace {

// The application element of a snapshot with one application whose element is `element`.
StoredElementPtr applicationElement(const std::string& element) {
  auto snapshot = parseAccessibilitySnapshot(
      R"({"trusted":true,"applications":[{"bundleIdentifier":"b","processIdentifier":1,"element":)" + element + "}]}");
  EXPECT_TRUE(snapshot);
  if (!snapshot || snapshot->applications.size() != 1) return std::make_shared<StoredElement>();
  return snapshot->applications.front().element;
}

long failureCode(const std::expected<AttributeValue, Error>& value) {
  EXPECT_FALSE(value);
  if (value) return 0;
  EXPECT_EQ(value.error().domain, AXError::domain);
  return value.error().code;
}

TEST(AccessibilitySnapshotTest, JSONValuesReadAsAttributeTypes) {
  auto app = applicationElement(
      R"({"s":"text","n":2.5,"b":true,"e":{"AXValue":"inner"},"a":[{"AXValue":"x"},"y"],
          "null":null,"fails":{"AXError":-25204},"notAFailure":{"AXError":-1,"AXValue":"v"}})");

  auto text = app->copyAttributeValue("s");
  ASSERT_TRUE(text && text->string());
  EXPECT_EQ(*text->string(), "text");

  auto number = app->copyAttributeValue("n");
  ASSERT_TRUE(number && std::holds_alternative<double>(number->value));
  EXPECT_EQ(std::get<double>(number->value), 2.5);

  auto flag = app->copyAttributeValue("b");
  ASSERT_TRUE(flag && std::holds_alternative<bool>(flag->value));
  EXPECT_TRUE(std::get<bool>(flag->value));

  auto element = app->copyAttributeValue("e");
  ASSERT_TRUE(element && std::holds_alternative<Element>(element->value));
  auto inner = std::get<Element>(element->value).copyAttributeValue("AXValue");
  ASSERT_TRUE(inner && inner->string());
  EXPECT_EQ(*inner->string(), "inner");

  auto array = app->copyAttributeValue("a");
  ASSERT_TRUE(array && array->array());
  ASSERT_EQ(array->array()->size(), 2u);
  EXPECT_TRUE(std::holds_alternative<Element>((*array->array())[0].value));
  EXPECT_TRUE((*array->array())[1].string());

  EXPECT_EQ(failureCode(app->copyAttributeValue("null")), AXError::noValue);
  EXPECT_EQ(failureCode(app->copyAttributeValue("fails")), AXError::cannotComplete);
  EXPECT_EQ(failureCode(app->copyAttributeValue("missing")), AXError::attributeUnsupported);
  // With other members beside it, "AXError" is just an attribute of an element.
  auto element2 = app->copyAttributeValue("notAFailure");
  EXPECT_TRUE(element2 && std::holds_alternative<Element>(element2->value));
}

TEST(AccessibilitySnapshotTest, NestingBeyondTheLimitFailsInsteadOfOverflowingTheStack) {
  // Far deeper than any reader goes, and deep enough to overflow the stack
  // of a reader that recursed without a limit.
  std::string deep;
  const int levels = 100000;
  for (int i = 0; i < levels; ++i) deep += R"({"AXChildren":[)";
  deep += "{}";
  for (int i = 0; i < levels; ++i) deep += "]}";
  auto app = applicationElement(deep);

  Element current = storedElement(app);
  int readable = 0;
  for (int i = 0; i < levels; ++i) {
    auto children = current.copyAttributeValue("AXChildren");
    if (!children) {
      EXPECT_EQ(children.error().code, AXError::cannotComplete);
      break;
    }
    ++readable;
    ASSERT_TRUE(children->array() && children->array()->size() == 1u);
    auto& only = std::get<AttributeValue::Array>(children->value).front();
    current = std::get<Element>(std::move(only.value));
  }
  EXPECT_GT(readable, 200);  // deep enough for every reader
  EXPECT_LT(readable, static_cast<int>(AccessibilitySnapshot::maxNesting));
}

TEST(AccessibilitySnapshotTest, TextsThatAreNotASnapshotObjectFail) {
  for (const char* text : {"", "not json", "[]", "\"trusted\"", R"({"trusted":true)", "{\"a\":\"\xff\"}"}) {
    auto snapshot = parseAccessibilitySnapshot(text);
    ASSERT_FALSE(snapshot) << text;
    EXPECT_EQ(snapshot.error().domain, "NSCocoaErrorDomain");
    EXPECT_EQ(snapshot.error().code, 3840);
  }
}

TEST(AccessibilitySnapshotTest, MembersOfTheWrongTypeReadAsAbsent) {
  struct Case {
    const char* text;
    bool trusted;
    size_t applications;
  };
  const Case cases[] = {
      {R"({})", false, 0},
      {R"({"trusted":"yes","applications":{}})", false, 0},
      {R"({"trusted":true,"applications":[
           {"bundleIdentifier":"b","processIdentifier":1},
           {"bundleIdentifier":"b"},
           {"processIdentifier":2},
           {"bundleIdentifier":7,"processIdentifier":3},
           {"bundleIdentifier":"b","processIdentifier":"4"},
           {"bundleIdentifier":"b","processIdentifier":5.5},
           {"bundleIdentifier":"b","processIdentifier":2147483648},
           {"bundleIdentifier":"b","processIdentifier":-2147483649},
           {"bundleIdentifier":"b","processIdentifier":18446744073709551615},
           "b",
           {"bundleIdentifier":"b","processIdentifier":2147483647,"element":"not an element"}]})",
       true, 2},
  };
  for (const auto part : {SnapshotPart::everything, SnapshotPart::withoutElementTrees}) {
    for (const auto& c : cases) {
      auto snapshot = parseAccessibilitySnapshot(c.text, part);
      ASSERT_TRUE(snapshot) << c.text;
      EXPECT_EQ(snapshot->trusted, c.trusted) << c.text;
      EXPECT_EQ(snapshot->applications.size(), c.applications) << c.text;
      for (const auto& application : snapshot->applications) {
        ASSERT_NE(application.element, nullptr);
        EXPECT_FALSE(application.element->copyAttributeValue("AXWindows"));
      }
    }
  }
}

TEST(AccessibilitySnapshotTest, WithoutElementTreesOnlyTheTreesAreLeftOut) {
  // "element" is skipped only as a member of an application entry.
  const char* text = R"({"trusted":true,"element":1,"applications":[
      {"bundleIdentifier":"a","processIdentifier":1,"element":{"AXWindows":[{"element":"x"}]}},
      {"element":{},"bundleIdentifier":"b","processIdentifier":2}]})";
  auto full = parseAccessibilitySnapshot(text);
  auto light = parseAccessibilitySnapshot(text, SnapshotPart::withoutElementTrees);
  ASSERT_TRUE(full && light);
  EXPECT_TRUE(light->trusted);
  ASSERT_EQ(light->applications.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(light->applications[i].bundleIdentifier, full->applications[i].bundleIdentifier);
    EXPECT_EQ(light->applications[i].processIdentifier, full->applications[i].processIdentifier);
    EXPECT_TRUE(light->applications[i].element->attributes.empty());
  }
  EXPECT_TRUE(full->applications[0].element->copyAttributeValue("AXWindows"));
}

}  // namespace
}  // namespace ostrel::accessibility
