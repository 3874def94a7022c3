#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrel::speaker {

// Names are at most this many characters (grapheme clusters) long.
inline constexpr size_t maxNameLength = 80;

// Removes blanks (the Unicode space separators and the tab, not line
// breaks) from both ends.
std::string trimmedOfBlanks(std::string_view text);

// The text trimmed of blanks, when it is not empty and at most 80 characters.
std::optional<std::string> plausibleName(std::string_view text);

// Equal after white space runs (line breaks included) become one space,
// the ends are trimmed and the case is folded: "Ann Lee" and "ann   lee".
bool sameName(std::string_view a, std::string_view b);
// The form sameName compares, for comparing one name with many.
std::string nameKey(std::string_view name);

}  // namespace ostrel::speaker
