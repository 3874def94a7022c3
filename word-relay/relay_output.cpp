#include "word-relay/relay_output.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "platform/foundation/json.h"

namespace ostrel::word {

namespace {
std::atomic<bool> silenced{false};
}  // namespace

void silenceOutput() { silenced.store(true); }

OutputObject succeeded(OutputObject fields) {
  fields.insert(fields.begin(), {"ok", true});
  return fields;
}

OutputObject failureObject(const Failure& failure) {
  return {{"ok", false}, {"code", failure.code}, {"error", failure.message}};
}

void emit(const OutputObject& object) {
  if (silenced.load()) return;
  nlohmann::json line = nlohmann::json::object();
  for (const auto& [key, value] : object) {
    std::visit([&line, &key](const auto& member) { line[key] = member; }, value);
  }
  const std::string text = json::compact(line) + "\n";
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) std::_Exit(0);
}

}  // namespace ostrel::word
