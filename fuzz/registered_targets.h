#pragma once

#include <map>
#include <string>

#include "fuzz/fuzz_target.h"

namespace ostrel::fuzz {

// Every target of the replay build, by name.
std::map<std::string, Target>& registeredTargets();

}  // namespace ostrel::fuzz
