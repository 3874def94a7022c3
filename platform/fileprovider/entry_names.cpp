#include "platform/fileprovider/entry_names.h"

#include <charconv>

namespace ostrel::fileprovider {

namespace {

// "Report.final.docx" splits into "Report.final" and ".docx"; a name whose
// only dot leads (".profile") or that has none has no extension.
std::pair<std::string_view, std::string_view> stemAndExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {name, {}};
  return {name.substr(0, dot), name.substr(dot)};
}

}  // namespace

std::string cutAtCharacter(std::string name, size_t limit) {
  if (name.size() <= limit) return name;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  name.resize(end);
  return name;
}

std::string safeEntryName(std::string_view serviceName) {
  std::string name;
  name.reserve(serviceName.size());
  for (char c : serviceName) {
    if (c == '/') {
      name += "\u2215";
    } else if (c == '\0') {
      name += "\uFFFD";
    } else {
      name += c;
    }
  }
  if (name.empty() || name == "." || name == "..") name.insert(0, "_");
  return cutAtCharacter(std::move(name), longestEntryName);
}

std::string numberedEntryName(const std::string& name, unsigned n) {
  const auto [stem, extension] = stemAndExtension(name);
  const std::string number = " (" + std::to_string(n) + ")";
  const std::string suffix = number + std::string(extension);
  // An extension too long to keep leaves no room for the stem: the number ends the name.
  if (suffix.size() >= longestEntryName) return cutAtCharacter(name, longestEntryName - number.size()) + number;
  return cutAtCharacter(std::string(stem), longestEntryName - suffix.size()) + suffix;
}

bool isNumberedFormOf(const std::string& shown, const std::string& name) {
  if (shown == name) return true;
  // Parse "<stem> (<n>)<extension>" and make the numbered name again: the
  // cut rules then decide alike.
  const size_t open = shown.rfind(" (");
  if (open == std::string::npos) return false;
  const size_t close = shown.find(')', open);
  if (close == std::string::npos) return false;
  unsigned n = 0;
  const char* first = shown.data() + open + 2;
  const char* last = shown.data() + close;
  auto [end, error] = std::from_chars(first, last, n);
  if (error != std::errc() || end != last || n < 2) return false;
  return numberedEntryName(name, n) == shown;
}

}  // namespace ostrel::fileprovider
