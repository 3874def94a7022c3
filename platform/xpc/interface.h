#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace ostrel::xpc {

// A value carried in a message. Integers and doubles stay distinct on the way
// through: 3 arrives as int64_t, 3.0 as double.
using Argument = std::variant<bool, int64_t, double, std::string>;
using Arguments = std::vector<Argument>;

// Answers a request; call at most once, from any thread, at any later time.
// Later calls are ignored; a reply to a connection that has ended is dropped.
using ReplyBlock = std::function<void(Arguments)>;

struct MethodShape {
  size_t argumentCount = 0;
  bool hasReply = false;
};

// NSXPCInterface: a protocol by name and its selectors.
struct Interface {
  std::string protocolName;
  std::map<std::string, MethodShape> selectors;  // e.g. {"accessTokenWithReply:", {0, true}}
};

// The exported object: receives the peer's messages, one at a time, in order,
// on a thread of the connection.
class ExportedObject {
 public:
  virtual ~ExportedObject() = default;
  // `reply` is empty for one-way selectors.
  virtual void invoke(const std::string& selector, const Arguments& arguments, ReplyBlock reply) = 0;
};

}  // namespace ostrel::xpc
