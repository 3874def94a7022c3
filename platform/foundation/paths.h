#pragma once

#include <filesystem>

namespace ostrel {

// The root of everything the system keeps on disk here:
// $OSTREL_HOME, else ${XDG_DATA_HOME:-~/.local/share}/ostrel.
std::filesystem::path ostrelHome();

}  // namespace ostrel
