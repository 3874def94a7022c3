#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_target.h"
#include "fuzz/registered_targets.h"

namespace ostrel::fuzz {

std::map<std::string, Target>& registeredTargets() {
  static std::map<std::string, Target> targets;
  return targets;
}

bool registerTarget(const char* name, Target target) {
  registeredTargets().emplace(name, target);
  return true;
}

void fail(const char* check, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: the decoder broke its promise: %s\n", file, line, check);
  std::abort();
}

}  // namespace ostrel::fuzz
