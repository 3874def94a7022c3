#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"

namespace ostrel {

// Unicode text operations on UTF-8 strings, with the platform's rules:
// "characters" are user-perceived characters (grapheme clusters).
bool isValidUTF8(std::string_view text);
// Removes Unicode white space and line breaks from both ends.
std::string trimmed(std::string_view text);
// Locale-independent full lower-case mapping.
std::string lowercased(std::string_view text);
// The number of grapheme clusters ("Cafe" + U+0301 is 4).
size_t graphemeCount(std::string_view text);
// The first `count` grapheme clusters of text.
std::string graphemePrefix(std::string_view text, size_t count);

struct RegexMatch {
  // Group 0 is the whole match; a group that did not take part is empty.
  std::vector<std::optional<std::string>> groups;
  const std::optional<std::string>& group(size_t index) const { return groups.at(index); }
};

struct RegexOptions {
  bool caseInsensitive = false;
};

// A compiled regular expression (ICU syntax, the platform's engine).
// Compile once and share: matching is safe from several threads.
class Regex {
 public:
  // Bad patterns fail with the Cocoa formatting error (2048).
  static std::expected<Regex, Error> create(std::string_view pattern, RegexOptions options = {});

  bool matches(std::string_view text) const { return firstMatch(text).has_value(); }
  std::optional<RegexMatch> firstMatch(std::string_view text) const;
  std::vector<RegexMatch> allMatches(std::string_view text) const;
  // Replaces every match with the template, where "$1" stands for a group.
  std::string replacingMatches(std::string_view text, std::string_view replacementTemplate) const;

 private:
  struct Impl;
  explicit Regex(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<const Impl> impl_;
};

}  // namespace ostrel
