#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <string>

#include "platform/foundation/json.h"

namespace ostrel::drive::helper {

// The longest input line the helper takes, line feed not counted. Messages
// are a few hundred bytes; anything near this is a broken or hostile writer.
inline constexpr std::size_t maxInputLineBytes = 1024 * 1024;

enum class LineRead {
  line,     // `line` holds the next line, without its line feed
  tooLong,  // the next line was over the bound and has been skipped to its line feed
  end,      // the stream ended before any byte of a line
};

// Reads the next line, holding at most `limit` bytes of it: the rest of a
// longer line is read and thrown away in passing, so one endless line costs
// no more memory than a line at the bound. A last line without a line feed
// still counts as a line.
LineRead readBoundedLine(std::istream& input, std::size_t limit, std::string& line);

// Reads the desktop application's JSON lines until the stream ends and hands
// on each one that is a JSON object. Anything else that parses, or does not,
// is dropped without a word; a line over maxInputLineBytes is dropped with a
// word to `reject`, because its writer most likely lost a message.
void readMessages(std::istream& input, const std::function<void(json::Value message)>& deliver,
                  const std::function<void(std::string problem)>& reject);

}  // namespace ostrel::drive::helper
