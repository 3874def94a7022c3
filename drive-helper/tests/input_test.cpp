#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <streambuf>

#include "drive-helper/input_lines.h"
#include "drive-helper/tests/helper_fixture.h"

namespace ostrel::drive::helper::testing {
namespace {

using json::Value;

// What readBoundedLine made of a whole stream, one entry a call, the end left out.
std::vector<std::string> readAll(std::istream& input, std::size_t limit) {
  std::vector<std::string> reads;
  std::string line;
  for (int call = 0; call < 100; ++call) {
    const auto read = readBoundedLine(input, limit, line);
    if (read == LineRead::end) return reads;
    reads.push_back(read == LineRead::tooLong ? "<too long>" : line);
  }
  ADD_FAILURE() << "the stream never ended";
  return reads;
}

TEST(BoundedLineTest, LinesAreCutAtTheirLineFeedAndThoseOverTheBoundSkipped) {
  struct Case {
    std::string name;
    std::string input;
    std::vector<std::string> reads;
  };
  // The bound is 4 bytes throughout.
  const std::vector<Case> cases{
      {"nothing", "", {}},
      {"exactly at the bound", "abcd\n", {"abcd"}},
      {"one over the bound", "abcde\n", {"<too long>"}},
      {"lines around a long one", "ab\nabcdefghij\ncd\n", {"ab", "<too long>", "cd"}},
      {"long lines in a row", "abcdefg\nhijklmn\nop\n", {"<too long>", "<too long>", "op"}},
      {"empty lines", "\n\nab\n\n", {"", "", "ab", ""}},
      {"many lines", "a\nb\nc\nd\ne\nf\n", {"a", "b", "c", "d", "e", "f"}},
      {"no line feed at the end", "ab\ncd", {"ab", "cd"}},
      {"at the bound without a line feed", "ab\nabcd", {"ab", "abcd"}},
      {"over the bound without a line feed", "ab\nabcdefgh", {"ab", "<too long>"}},
      {"carriage return counts", "abc\r\nabcd\r\n", {"abc\r", "<too long>"}},
  };
  for (const auto& c : cases) {
    std::istringstream input(c.input);
    EXPECT_EQ(readAll(input, 4), c.reads) << c.name;
  }
}

// A stream of one line of `length` bytes, then "{}\n", made up as it is read.
class LongLineBuffer : public std::streambuf {
 public:
  explicit LongLineBuffer(std::size_t length) : left_(length) {}

 protected:
  int_type underflow() override {
    if (left_ > 0) {
      const std::size_t n = std::min(left_, chunk_.size());
      left_ -= n;
      setg(chunk_.data(), chunk_.data(), chunk_.data() + n);
    } else if (!tailGiven_) {
      tailGiven_ = true;
      setg(tail_.data(), tail_.data(), tail_.data() + tail_.size());
    } else {
      return traits_type::eof();
    }
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::size_t left_;
  std::string chunk_ = std::string(64 * 1024, 'x');
  std::string tail_ = "\n{}\n";
  bool tailGiven_ = false;
};

TEST(BoundedLineTest, AnEndlessLineIsNeverHeldWhole) {
  LongLineBuffer buffer(64 * maxInputLineBytes);
  std::istream input(&buffer);
  std::string line;
  EXPECT_EQ(readBoundedLine(input, maxInputLineBytes, line), LineRead::tooLong);
  EXPECT_LE(line.capacity(), 2 * maxInputLineBytes);
  EXPECT_EQ(readBoundedLine(input, maxInputLineBytes, line), LineRead::line);
  EXPECT_EQ(line, "{}");
  EXPECT_EQ(readBoundedLine(input, maxInputLineBytes, line), LineRead::end);
}

TEST(InputTest, OnlyLinesHoldingAJsonObjectAreHandedOn) {
  std::istringstream input(
      "not json\n"
      "[1,2,3]\n"
      "\"status\"\n"
      "\n"
      "{\"type\":\"status\"}\n"
      "{\"type\":\n"
      "  \"signal\"}\n"
      "42\n"
      "{\"type\":\"token\",\"token\":\"t\",\"expires_at\":1.5}\r\n"
      "{\"type\":\"reconnect\"}");  // the last line may lack its line feed
  std::vector<Value> delivered;
  std::vector<std::string> problems;
  readMessages(
      input, [&](Value message) { delivered.push_back(std::move(message)); },
      [&](std::string problem) { problems.push_back(std::move(problem)); });
  EXPECT_EQ(delivered, (std::vector<Value>{{{"type", "status"}},
                                           {{"type", "token"}, {"token", "t"}, {"expires_at", 1.5}},
                                           {{"type", "reconnect"}}}));
  EXPECT_TRUE(problems.empty());
}

TEST(InputTest, ALineOverTheBoundIsReportedAndTheNextOnesStillCount) {
  const auto object = [](std::size_t length) {
    // {"type":"status","pad":"xx…"} of exactly `length` bytes.
    const std::string head = "{\"type\":\"status\",\"pad\":\"";
    const std::string tail = "\"}";
    return head + std::string(length - head.size() - tail.size(), 'x') + tail;
  };
  std::istringstream input(object(maxInputLineBytes) + "\n" + object(maxInputLineBytes + 1) + "\n" +
                           "{\"type\":\"signal\"}\n");
  std::vector<std::string> order;
  readMessages(
      input, [&](Value message) { order.push_back(message.value("type", "")); },
      [&](std::string problem) { order.push_back(problem); });
  EXPECT_EQ(order, (std::vector<std::string>{"status", "input line longer than 1048576 bytes dropped", "signal"}));
}

TEST_F(HostTest, GarbageLinesPrintNothing) {
  std::istringstream input("garbage\n[]\n{\"unterminated\"\nnull\n");
  readMessages(
      input, [&](Value message) { host(false).handle(message); }, [](std::string) {});
  queue_->runReady();
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace ostrel::drive::helper::testing
