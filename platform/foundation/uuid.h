#pragma once

#include <string>

namespace ostrel {

// A fresh random UUID in its standard upper-case text form.
std::string makeUUIDString();

}  // namespace ostrel
