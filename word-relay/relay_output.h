#pragma once

#include <expected>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "word-relay/failures.h"

namespace ostrel::word {

using OutputValue = std::variant<bool, std::string>;
// The keys of one output object; their order carries no meaning.
using OutputObject = std::vector<std::pair<std::string, OutputValue>>;

// A command's complete output object, or why it failed.
using Outcome = std::expected<OutputObject, Failure>;

// {"ok": true} with the command's keys.
OutputObject succeeded(OutputObject fields);
// {"ok": false, "code": …, "error": …}.
OutputObject failureObject(const Failure& failure);

// One compact JSON line on standard output, flushed at once. When the
// reader has gone there is nobody left to tell, and the program ends
// (status 0, as always).
void emit(const OutputObject& object);

// For a program being stopped: nothing more is printed, whatever a command
// cut short still comes to. Safe from any thread.
void silenceOutput();

}  // namespace ostrel::word
