#include "platform/fileprovider/fuse/local_only_names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace ostrel::fileprovider {

namespace {

bool isAlphanumeric(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

std::string lowered(std::string_view name) {
  std::string lower(name);
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

// rsync writes ".NAME.XXXXXX" (six random letters or digits) and renames it.
bool isRsyncPartial(std::string_view name) {
  if (name.size() < 9 || name[0] != '.') return false;
  const auto tail = name.substr(name.size() - 7);
  return tail[0] == '.' && std::ranges::all_of(tail.substr(1), isAlphanumeric);
}

// vim's swap files: ".NAME.swp", ".swo", ... ".swa".
bool isVimSwap(std::string_view name) {
  return name.size() >= 5 && name[0] == '.' && name.substr(name.size() - 4, 3) == ".sw" &&
         std::islower(static_cast<unsigned char>(name.back()));
}

// LibreOffice saves through "lu<random>.tmp" beside the document.
bool isLibreOfficeTemporary(std::string_view name) {
  return name.size() > 6 && name.starts_with("lu") && name.ends_with(".tmp");
}

struct Rule {
  enum class Kind { exact, prefix, suffix, enclosed, exactIgnoringCase };
  Kind kind;
  std::string_view text;
  std::string_view end = {};
};

// One table: what a pattern in the mount's documentation says, a row here says.
constexpr std::array rules{
    Rule{Rule::Kind::prefix, ".~lock."},          // LibreOffice lock files ".~lock.NAME#"
    Rule{Rule::Kind::exact, "4913"},              // vim's probe whether it may create files
    Rule{Rule::Kind::prefix, ".#"},               // emacs lock links
    Rule{Rule::Kind::enclosed, "#", "#"},         // emacs auto-save files
    Rule{Rule::Kind::suffix, "~"},                // backup copies of editors
    Rule{Rule::Kind::prefix, ".goutputstream-"},  // GNOME's safe save
    Rule{Rule::Kind::suffix, ".kate-swp"},        // KDE editors' swap files
    Rule{Rule::Kind::exact, ".directory"},        // KDE folder settings
    Rule{Rule::Kind::prefix, ".Trash-"},          // file managers' trash folders
    Rule{Rule::Kind::exact, ".DS_Store"},
    Rule{Rule::Kind::exactIgnoringCase, "thumbs.db"},
    Rule{Rule::Kind::exactIgnoringCase, "desktop.ini"},
};

bool matches(const Rule& rule, std::string_view name) {
  switch (rule.kind) {
    case Rule::Kind::exact:
      return name == rule.text;
    case Rule::Kind::prefix:
      return name.starts_with(rule.text);
    case Rule::Kind::suffix:
      return name.ends_with(rule.text);
    case Rule::Kind::enclosed:
      return name.size() > rule.text.size() + rule.end.size() && name.starts_with(rule.text) &&
             name.ends_with(rule.end);
    case Rule::Kind::exactIgnoringCase:
      return lowered(name) == rule.text;
  }
  return false;
}

}  // namespace

bool isLocalOnlyName(std::string_view name) {
  if (std::ranges::any_of(rules, [&](const Rule& rule) { return matches(rule, name); })) return true;
  return isRsyncPartial(name) || isVimSwap(name) || isLibreOfficeTemporary(name);
}

}  // namespace ostrel::fileprovider
