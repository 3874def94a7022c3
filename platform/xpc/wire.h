#pragma once

// The bytes on an XPC socket: one compact JSON object per line.
//   request   {"m":"updateToken:expiresAt:","a":["tok",1700000000.0]}
//   with id   {"m":"accessTokenWithReply:","a":[],"r":7}
//   reply     {"r":7,"a":["tok",1700000000.0]}
// Arguments are JSON booleans, integers (int64), numbers with a fraction or
// exponent (double) and strings. Nothing else is a frame.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/xpc/interface.h"

namespace ostrel::xpc::wire {

// The longest line either side sends or accepts, newline excluded.
inline constexpr size_t maxLineBytes = size_t{1} << 20;

struct Request {
  std::string selector;
  Arguments arguments;
  std::optional<int64_t> replyId;  // positive; absent for one-way messages
  friend bool operator==(const Request&, const Request&) = default;
};

struct Reply {
  int64_t replyId = 0;
  Arguments arguments;
  friend bool operator==(const Reply&, const Reply&) = default;
};

using Frame = std::variant<Request, Reply>;

// A line without its newline, or why it is not a frame.
std::expected<Frame, std::string> decode(std::string_view line);
// The line for a frame, newline included, or why it cannot be sent.
std::expected<std::string, std::string> encode(const Frame& frame);

}  // namespace ostrel::xpc::wire
