#include "drive-helper/output.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace ostrel::drive::helper {

namespace {

std::timed_mutex& outputLock() {
  static std::timed_mutex lock;
  return lock;
}

}  // namespace

void emit(const json::Value& object) {
  // Text that is not UTF-8 comes out with replacement characters, so every
  // object can be written.
  std::string line = json::compact(object) + '\n';
  std::lock_guard lock(outputLock());
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void fail(std::string_view message) {
  emit({{"ok", false}, {"error", message}});
  exitNow(1);
}

void exitNow(int status) {
  // Under the output lock, so that no line is cut short, unless a writer is
  // stuck on a pipe that nobody reads; without running destructors, which
  // other threads may still be using.
  const bool locked = outputLock().try_lock_for(std::chrono::seconds(1));
  if (locked) std::fflush(stdout);
  std::_Exit(status);
}

}  // namespace ostrel::drive::helper
