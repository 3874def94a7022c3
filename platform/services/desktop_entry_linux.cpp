#include "platform/services/desktop_entry_linux.h"

#include <cstdlib>

namespace ostrel::services_linux {

namespace {

// String values may not hold line breaks, and "\" starts an escape.
std::string valueText(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

std::string execLine(const std::vector<std::string>& command) {
  std::string line;
  for (const auto& argument : command) {
    if (!line.empty()) line += ' ';
    line += execArgument(argument);
  }
  return line;
}

}  // namespace

std::string execArgument(std::string_view argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    // "%" would be taken for a field code.
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  return valueText(quoted);
}

std::string desktopEntryText(const DesktopEntry& entry) {
  std::string text = "[Desktop Entry]\nType=Application\nVersion=1.5\n";
  text += "Name=" + valueText(entry.name) + "\n";
  // An agent: reachable through its actions, not listed in menus.
  text += "NoDisplay=true\n";
  text += "Exec=" + execLine(entry.command) + "\n";
  text += "Actions=";
  for (const auto& action : entry.actions) text += action.identifier + ";";
  text += "\n";
  for (const auto& action : entry.actions) {
    text += "\n[Desktop Action " + action.identifier + "]\n";
    text += "Name=" + valueText(action.name) + "\n";
    text += "Exec=" + execLine(action.command) + "\n";
  }
  return text;
}

std::filesystem::path desktopEntryPath(std::string_view identifier) {
  std::filesystem::path data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    data = xdg;
  } else {
    const char* home = std::getenv("HOME");
    data = std::filesystem::path(home ? home : "/") / ".local" / "share";
  }
  return data / "applications" / (std::string(identifier) + ".desktop");
}

}  // namespace ostrel::services_linux
