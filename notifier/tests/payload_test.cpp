#include <gtest/gtest.h>

#include "notifier/click_url.h"
#include "notifier/payload.h"

namespace ostrel::notifier {
namespace {

TEST(Payload, Decoding) {
  struct Case {
    std::string text;
    std::optional<Payload> payload;
  };
  const std::vector<Case> cases = {
      {"{}", Payload{}},
      {R"({"title":"a","body":"b"})", Payload{.title = "a", .body = "b"}},
      {R"({"request":true,"title":"a","body":"b"})", Payload{.request = true, .title = "a", .body = "b"}},
      {R"({"title":"a","body":"b","timeSensitive":false,"target":"x y"})",
       Payload{.title = "a", .body = "b", .target = "x y", .timeSensitive = false}},
      {R"({"title":"a","other":[1,2],"Title":5})", Payload{.title = "a"}},
      {R"({"title":null,"request":null})", Payload{}},
      {R"({"title":"Caf\u00e9 \ud83d\udcc4","body":""})", Payload{.title = "Café 📄", .body = ""}},
      // Each key with a value of another type spoils the whole payload.
      {R"({"request":"true","title":"a","body":"b"})", std::nullopt},
      {R"({"request":1})", std::nullopt},
      {R"({"title":5,"body":"b"})", std::nullopt},
      {R"({"title":"a","body":["b"]})", std::nullopt},
      {R"({"title":"a","body":"b","target":7})", std::nullopt},
      {R"({"title":"a","body":"b","target":{"to":"x"}})", std::nullopt},
      {R"({"title":"a","body":"b","timeSensitive":0})", std::nullopt},
      {R"({"title":"a","body":"b","timeSensitive":"no"})", std::nullopt},
      // Not an object, not JSON, not UTF-8.
      {R"(["title","a"])", std::nullopt},
      {R"("title")", std::nullopt},
      {"", std::nullopt},
      {R"({"title":"a",)", std::nullopt},
      {"{\"title\":\"\xff\xfe\",\"body\":\"b\"}", std::nullopt},
      {"{\"title\":\"\xc3\",\"body\":\"b\"}", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(decodePayload(c.text), c.payload);
  }
}

TEST(Payload, ComesFromTheFirstArgumentOnly) {
  EXPECT_EQ(payloadFromArguments({}), std::nullopt);
  EXPECT_EQ(payloadFromArguments({R"({"title":"a"})", "ignored"}), Payload{.title = "a"});
  EXPECT_EQ(payloadFromArguments({"not json", R"({"title":"a"})"}), std::nullopt);
}

TEST(ClickURL, TargetIsOneQueryValue) {
  struct Case {
    std::string scheme;
    std::string target;
    std::optional<std::string> url;
  };
  const std::vector<Case> cases = {
      {"ostrel", "x y", "ostrel://notify?to=x%20y"},
      {"ostrel", "", "ostrel://notify?to="},
      {"ostrel-dev", "doc:12/v?3#a", "ostrel-dev://notify?to=doc%3A12%2Fv%3F3%23a"},
      {"ostrel", "a&to=b+c=d", "ostrel://notify?to=a%26to%3Db%2Bc%3Dd"},
      {"ostrel", "Café", "ostrel://notify?to=Caf%C3%A9"},
      {"x.y+z", "t", "x.y+z://notify?to=t"},
      {"", "t", std::nullopt},
      {"1ostrel", "t", std::nullopt},
      {"ost rel", "t", std::nullopt},
      {"ostrel:", "t", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(clickURL(c.scheme, c.target), c.url) << c.scheme << " " << c.target;
}

}  // namespace
}  // namespace ostrel::notifier
