#include "drive/model/drive_item_payload.h"

#include <gtest/gtest.h>

#include "drive/model/drive_item_payload_decoding.h"

namespace ostrel::drive {
namespace {

using json::Value;

Value fullPayload() {
  return Value::parse(R"({
    "identifier": "doc:42", "parent_identifier": "folder:9", "kind": "container", "filename": "Brief.docx",
    "size": 1024, "content_version": "3F2504E0-4F89-11D3-9A0C-0305E82C3301:1", "metadataVersion": "m1",
    "created_at": "2024-03-01T09:30:00Z", "modifiedAt": "2024-03-01T09:30:00.123456Z",
    "capabilities": ["rename", "share"], "child_count": 3, "version_label": "v2", "comment": "c",
    "tags": ["a"], "unrelated": {"x": 1}
  })");
}

TEST(DriveItemPayloadTest, DecodesEveryFieldInEitherKeySpelling) {
  auto payload = json::decodeValue<DriveItemPayload>(fullPayload());
  ASSERT_TRUE(payload) << payload.error().description();
  EXPECT_EQ(payload->identifier, "doc:42");
  EXPECT_EQ(payload->parentIdentifier, "folder:9");
  EXPECT_EQ(payload->kind, DriveItemPayload::Kind::container);
  EXPECT_EQ(payload->size, 1024);
  EXPECT_EQ(payload->contentVersion, "3F2504E0-4F89-11D3-9A0C-0305E82C3301:1");
  EXPECT_EQ(payload->metadataVersion, "m1");
  EXPECT_EQ(payload->createdAt, parseDate("2024-03-01T09:30:00Z"));
  EXPECT_EQ(payload->modifiedAt, parseDate("2024-03-01T09:30:00.123Z"));
  EXPECT_EQ(payload->capabilities, (std::vector<std::string>{"rename", "share"}));
  EXPECT_EQ(payload->childCount, 3);
  EXPECT_EQ(payload->versionLabel, "v2");
  EXPECT_EQ(payload->comment, "c");
  EXPECT_EQ(payload->tags, std::vector<std::string>{"a"});
}

TEST(DriveItemPayloadTest, OptionalFieldsMayBeAbsentOrNull) {
  Value absent = fullPayload();
  Value null = fullPayload();
  for (const char* key : {"size", "created_at", "modifiedAt", "child_count", "version_label", "comment", "tags"}) {
    absent.erase(key);
    null[key] = nullptr;
  }
  for (const Value& body : {absent, null}) {
    auto payload = json::decodeValue<DriveItemPayload>(body);
    ASSERT_TRUE(payload) << payload.error().description();
    EXPECT_FALSE(payload->size || payload->createdAt || payload->modifiedAt || payload->childCount ||
                 payload->versionLabel || payload->comment || payload->tags);
  }
}

TEST(DriveItemPayloadTest, RequiredFieldsMustBePresentAndNotNull) {
  for (const char* key :
       {"identifier", "parent_identifier", "kind", "filename", "content_version", "metadataVersion", "capabilities"}) {
    Value missing = fullPayload();
    missing.erase(key);
    EXPECT_FALSE(json::decodeValue<DriveItemPayload>(missing)) << key;
    Value null = fullPayload();
    null[key] = nullptr;
    EXPECT_FALSE(json::decodeValue<DriveItemPayload>(null)) << key;
  }
  Value empty = fullPayload();
  empty["capabilities"] = Value::array();
  EXPECT_TRUE(json::decodeValue<DriveItemPayload>(empty));
}

TEST(DriveItemPayloadTest, WrongValuesFailTheWholePayload) {
  const std::pair<const char*, Value> cases[] = {
      {"kind", "folder"},
      {"kind", "File"},
      {"size", "12"},
      {"size", 1.5},
      {"filename", 7},
      {"capabilities", "write"},
      {"capabilities", Value::array({"write", 1})},
      {"child_count", true},
      {"tags", Value::object()},
  };
  for (const auto& [key, value] : cases) {
    Value body = fullPayload();
    body[key] = value;
    EXPECT_FALSE(json::decodeValue<DriveItemPayload>(body)) << key << "=" << value.dump();
  }
}

TEST(DriveItemPayloadTest, BadDateFailsWithItsText) {
  Value body = fullPayload();
  body["created_at"] = "2024-03-01";
  auto payload = json::decodeValue<DriveItemPayload>(body);
  ASSERT_FALSE(payload);
  EXPECT_EQ(payload.error().debugDescription, "bad date 2024-03-01");
  EXPECT_EQ(payload.error().codingPath, "createdAt");
}

TEST(DriveItemPayloadTest, KindRawValues) {
  EXPECT_EQ(kindFromRawValue("container"), DriveItemPayload::Kind::container);
  EXPECT_EQ(kindFromRawValue("file"), DriveItemPayload::Kind::file);
  EXPECT_FALSE(kindFromRawValue("folder"));
  EXPECT_EQ(rawValue(DriveItemPayload::Kind::container), "container");
}

}  // namespace
}  // namespace ostrel::drive
