#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/json_decoding.h"

namespace ostrel::json {
namespace {

TEST(ConvertFromSnakeCaseTest, FollowsThePlatformRule) {
  const std::pair<const char*, const char*> cases[] = {
      {"parent_identifier", "parentIdentifier"},
      {"parentIdentifier", "parentIdentifier"},
      {"child_count", "childCount"},
      {"ALL_CAPS_KEY", "allCapsKey"},
      {"_leading_under", "_leadingUnder"},
      {"trailing_under__", "trailingUnder__"},
      {"__both_ends__", "__bothEnds__"},
      {"double__inner", "doubleInner"},
      {"_single_", "_single_"},
      {"MixedCase", "MixedCase"},
      {"_", "_"},
      {"___", "___"},
      {"", ""},
      {"a_b_c", "aBC"},
      {"url_2_value", "url2Value"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(convertFromSnakeCase(input), expected) << input;
}

TEST(CompactTest, OneLineWithoutSpaces) {
  Value value = {{"ok", true}, {"list", {1, 2}}, {"text", "a\nb"}};
  const std::string out = compact(value);
  EXPECT_EQ(out.find('\n'), std::string::npos);
  EXPECT_EQ(out.find(' '), std::string::npos);
  EXPECT_EQ(Value::parse(out), value);
}

TEST(CompactTest, InvalidUTF8IsReplacedNotThrown) {
  Value value = {{"name", std::string("bad \xff byte")}};
  EXPECT_EQ(compact(value), "{\"name\":\"bad \xEF\xBF\xBD byte\"}");
}

struct Sample {
  std::string name;
  std::optional<int64_t> count;
  std::optional<Date> when;
  std::vector<std::string> words;
};

Decoded<Sample> decode(const Value& value, std::type_identity<Sample>) {
  return decodeObject<Sample>(value, [](KeyedDecoder& k, Sample& s) {
    k.read("name", s.name);
    k.read("itemCount", s.count);
    k.read("when", s.when);
    k.read("words", s.words);
  });
}

TEST(DecodeBodyTest, ReadsSnakeAndCamelKeysAndOptionalNulls) {
  auto snake = decodeBody<Sample>(R"({"name":"a","item_count":3,"when":null,"words":[]})");
  ASSERT_TRUE(snake) << snake.error().description();
  EXPECT_EQ(snake->count, 3);
  EXPECT_FALSE(snake->when);
  auto camel = decodeBody<Sample>(R"({"name":"a","itemCount":4.0,"words":["x"],"extra":{"deep":[1]}})");
  ASSERT_TRUE(camel) << camel.error().description();
  EXPECT_EQ(camel->count, 4);
}

TEST(DecodeBodyTest, FailuresAreValuesWithAPath) {
  struct Case {
    std::string body;
    DecodingError::Kind kind;
    std::string path;
  };
  const Case cases[] = {
      {"not json", DecodingError::Kind::dataCorrupted, ""},
      {"{\"name\":\"\xff\"}", DecodingError::Kind::dataCorrupted, ""},
      {"[]", DecodingError::Kind::typeMismatch, ""},
      {R"({"words":[]})", DecodingError::Kind::keyNotFound, "name"},
      {R"({"name":null,"words":[]})", DecodingError::Kind::valueNotFound, "name"},
      {R"({"name":1,"words":[]})", DecodingError::Kind::typeMismatch, "name"},
      {R"({"name":"a","words":["x",2]})", DecodingError::Kind::typeMismatch, "words.1"},
      {R"({"name":"a","words":[],"item_count":1.5})", DecodingError::Kind::dataCorrupted, "itemCount"},
      {R"({"name":"a","words":[],"item_count":18446744073709551615})", DecodingError::Kind::dataCorrupted,
       "itemCount"},
      {R"({"name":"a","words":[],"when":"2024-03-01"})", DecodingError::Kind::dataCorrupted, "when"},
  };
  for (const auto& c : cases) {
    auto result = decodeBody<Sample>(c.body);
    ASSERT_FALSE(result) << c.body;
    EXPECT_EQ(result.error().kind, c.kind) << c.body;
    EXPECT_EQ(result.error().codingPath, c.path) << c.body;
  }
}

TEST(DecodeBodyTest, BadDateNamesTheText) {
  auto result = decodeBody<Sample>(R"({"name":"a","words":[],"when":"2024-03-01"})");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().debugDescription, "bad date 2024-03-01");
}

TEST(DecodeBodyTest, DeepNestingIsAFailureNotACrash) {
  const size_t depth = 200000;
  std::string body = "{\"name\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
  auto result = decodeBody<Sample>(body);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, DecodingError::Kind::typeMismatch);
}

}  // namespace
}  // namespace ostrel::json
