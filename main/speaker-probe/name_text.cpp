#include "main/speaker-probe/name_text.h"

#include <algorithm>

#include "platform/foundation/text.h"

namespace ostrel::speaker {

namespace {

// \A and \z rather than ^ and $: "$" would also stop before a final line break.
const Regex& blanksAtTheEnds() {
  static const Regex regex = *Regex::create(R"re(\A[\t\p{Zs}]+|[\t\p{Zs}]+\z)re");
  return regex;
}

const Regex& whiteSpaceRuns() {
  static const Regex regex = *Regex::create(R"re(\p{White_Space}+)re");
  return regex;
}

bool isASCII(std::string_view text) {
  return std::ranges::all_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
bool isASCIIBlank(char c) { return c == ' ' || c == '\t'; }
bool isASCIIWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Names are mostly ASCII, where the Unicode rules come down to these few
// characters; the regular expressions are there for everything else.
std::string asciiNameKey(std::string_view name) {
  std::string key;
  key.reserve(name.size());
  bool pendingSpace = false;
  for (char c : name) {
    if (isASCIIWhiteSpace(c)) {
      pendingSpace = !key.empty();
      continue;
    }
    if (pendingSpace) key += ' ';
    pendingSpace = false;
    key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return key;
}

}  // namespace

std::string nameKey(std::string_view name) {
  if (isASCII(name)) return asciiNameKey(name);
  return lowercased(trimmed(whiteSpaceRuns().replacingMatches(name, " ")));
}

std::string trimmedOfBlanks(std::string_view text) {
  while (!text.empty() && isASCIIBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isASCIIBlank(text.back())) text.remove_suffix(1);
  const auto nonASCII = [](char c) { return static_cast<unsigned char>(c) >= 0x80; };
  if (text.empty() || (!nonASCII(text.front()) && !nonASCII(text.back()))) return std::string(text);
  return blanksAtTheEnds().replacingMatches(text, "");
}

std::optional<std::string> plausibleName(std::string_view text) {
  std::string name = trimmedOfBlanks(text);
  if (name.empty()) return std::nullopt;
  // Every character takes at least one byte.
  if (name.size() > maxNameLength && graphemeCount(name) > maxNameLength) return std::nullopt;
  return name;
}

bool sameName(std::string_view a, std::string_view b) { return nameKey(a) == nameKey(b); }

}  // namespace ostrel::speaker
