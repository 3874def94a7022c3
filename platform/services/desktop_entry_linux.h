#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::services_linux {

// What a program's desktop entry offers: the program started without a
// request, and one action per Services entry.
struct DesktopEntry {
  struct Action {
    std::string identifier;  // letters, digits and "-" only
    std::string name;
    std::vector<std::string> command;
  };
  std::string name;
  std::vector<std::string> command;
  std::vector<Action> actions;
};

// The file's text, in the freedesktop Desktop Entry format.
std::string desktopEntryText(const DesktopEntry& entry);

// One Exec argument: quoted, with the characters the format reserves escaped,
// then escaped once more as a string value.
std::string execArgument(std::string_view argument);

// Where the entry of `identifier` is found: ${XDG_DATA_HOME:-~/.local/share}/applications.
std::filesystem::path desktopEntryPath(std::string_view identifier);

}  // namespace ostrel::services_linux
