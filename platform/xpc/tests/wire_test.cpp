#include "platform/xpc/wire.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/xpc/endpoint.h"
#include "platform/xpc/line_reader.h"

namespace ostrel::xpc {
namespace {

using wire::Reply;
using wire::Request;

TEST(WireTest, EncodesTheDocumentedLines) {
  const struct {
    wire::Frame frame;
    std::string line;
  } cases[] = {
      {Request{"updateToken:expiresAt:", {"tok", 1700000000.0}, std::nullopt},
       R"({"a":["tok",1700000000.0],"m":"updateToken:expiresAt:"})"
       "\n"},
      {Request{"accessTokenWithReply:", {}, 7}, R"({"a":[],"m":"accessTokenWithReply:","r":7})"
                                                "\n"},
      {Reply{7, {"tok", 1700000000.0}}, R"({"a":["tok",1700000000.0],"r":7})"
                                        "\n"},
      {Request{"x:", {true, int64_t{-3}, 0.5, "a\nb"}, std::nullopt}, R"({"a":[true,-3,0.5,"a\nb"],"m":"x:"})"
                                                                       "\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(wire::encode(c.frame), c.line);
}

TEST(WireTest, DecodesLinesWhateverTheKeyOrder) {
  EXPECT_EQ(wire::decode(R"({"m":"updateToken:expiresAt:","a":["tok",1700000000.0]})"),
            wire::Frame(Request{"updateToken:expiresAt:", {"tok", 1700000000.0}, std::nullopt}));
  EXPECT_EQ(wire::decode(R"({"r":7,"m":"accessTokenWithReply:","a":[]})"),
            wire::Frame(Request{"accessTokenWithReply:", {}, 7}));
  EXPECT_EQ(wire::decode(R"( {"r":7,"a":["tok",3]} )"), wire::Frame(Reply{7, {"tok", int64_t{3}}}));
}

TEST(WireTest, RefusesWhatCannotBeSent) {
  const Arguments unsendable[] = {
      {std::numeric_limits<double>::quiet_NaN()},
      {std::numeric_limits<double>::infinity()},
      {std::string(wire::maxLineBytes, 'x')},
  };
  for (const auto& arguments : unsendable) EXPECT_FALSE(wire::encode(Request{"x:", arguments, std::nullopt}));
}

TEST(WireTest, RejectsEverythingButAFrame) {
  const char* lines[] = {
      "not json",
      "",
      "[1,2]",
      R"("text")",
      "{}",
      R"({"m":"x:"})",
      R"({"m":"x:","a":{}})",
      R"({"m":"x:","a":[null]})",
      R"({"m":"x:","a":[[1]]})",
      R"({"m":"x:","a":[{"k":1}]})",
      R"({"m":"x:","a":[18446744073709551615]})",
      R"({"m":"x:","a":[],"r":0})",
      R"({"m":"x:","a":[],"r":-3})",
      R"({"m":"x:","a":[],"r":"7"})",
      R"({"m":"x:","a":[],"r":7.0})",
      R"({"m":"x:","a":[],"r":18446744073709551615})",
      R"({"m":7,"a":[]})",
      R"({"m":"","a":[]})",
      R"({"a":[]})",
      R"({"m":"x:","a":[],"extra":1})",
      "{\"m\":\"\xff\",\"a\":[]}",
      R"({"m":"x:","a":[]} trailing)",
  };
  for (const char* line : lines) EXPECT_FALSE(wire::decode(line)) << line;
}

TEST(LineReaderTest, JoinsChunksAndSplitsLines) {
  LineReader reader(8);
  reader.append("ab");
  EXPECT_EQ(reader.next(), std::nullopt);
  reader.append("c\n\nde");
  EXPECT_EQ(reader.next(), "abc");
  EXPECT_EQ(reader.next(), "");
  EXPECT_EQ(reader.next(), std::nullopt);
  reader.append("f\n12345678\n");
  EXPECT_EQ(reader.next(), "def");
  EXPECT_EQ(reader.next(), "12345678");
  EXPECT_FALSE(reader.overflowed());
}

TEST(LineReaderTest, RefusesALineOverTheLimitWithOrWithoutItsNewline) {
  for (const char* input : {"123456789", "123456789\n", "ok\n123456789\n"}) {
    LineReader reader(8);
    reader.append(input);
    while (reader.next()) {
    }
    EXPECT_TRUE(reader.overflowed()) << input;
    reader.append("\nfine\n");
    EXPECT_EQ(reader.next(), std::nullopt) << "nothing after an overflow";
  }
}

TEST(EndpointTest, TextRoundTripsAndJunkIsRefused) {
  ListenerEndpoint endpoint{"/run/user/1000/ostrel-xpc-1000/42-1-0badf00d.sock"};
  EXPECT_EQ(endpoint.serialized(), "unix:/run/user/1000/ostrel-xpc-1000/42-1-0badf00d.sock");
  EXPECT_EQ(ListenerEndpoint::parse(endpoint.serialized()), endpoint);
  for (const char* junk : {"", "unix:", "unix:relative.sock", "/tmp/a.sock", "tcp:/tmp/a.sock"}) {
    EXPECT_EQ(ListenerEndpoint::parse(junk), std::nullopt) << junk;
  }
  EXPECT_EQ(ListenerEndpoint::parse(std::string_view("unix:/tmp/a\0b", 13)), std::nullopt);
}

}  // namespace
}  // namespace ostrel::xpc
