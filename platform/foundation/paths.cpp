#include "platform/foundation/paths.h"

#include <cstdlib>

namespace ostrel {

namespace {
const char* nonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}
}  // namespace

std::filesystem::path ostrelHome() {
  if (const char* home = nonEmptyEnv("OSTREL_HOME")) return home;
  if (const char* data = nonEmptyEnv("XDG_DATA_HOME")) return std::filesystem::path(data) / "ostrel";
  const char* user = nonEmptyEnv("HOME");
  return std::filesystem::path(user ? user : "/tmp") / ".local/share/ostrel";
}

}  // namespace ostrel
