#include <unicode/brkiter.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include "platform/foundation/text.h"

namespace ostrel {

namespace {

icu::UnicodeString toUnicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

std::unique_ptr<icu::BreakIterator> characterIterator(const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return nullptr;
  it->setText(text);
  return it;
}

constexpr long kCocoaFormattingError = 2048;

}  // namespace

bool isValidUTF8(std::string_view text) {
  int32_t i = 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  while (i < length) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

std::string trimmed(std::string_view text) {
  icu::UnicodeString u = toUnicode(text);
  int32_t start = 0;
  int32_t end = u.length();
  while (start < end && u_isUWhiteSpace(u.char32At(start))) start = u.moveIndex32(start, 1);
  while (end > start) {
    int32_t previous = u.moveIndex32(end, -1);
    if (!u_isUWhiteSpace(u.char32At(previous))) break;
    end = previous;
  }
  return toUTF8(u.tempSubStringBetween(start, end));
}

std::string lowercased(std::string_view text) {
  icu::UnicodeString u = toUnicode(text);
  u.toLower(icu::Locale::getRoot());
  return toUTF8(u);
}

size_t graphemeCount(std::string_view text) {
  icu::UnicodeString u = toUnicode(text);
  auto it = characterIterator(u);
  if (!it) return static_cast<size_t>(u.countChar32());
  size_t count = 0;
  for (int32_t b = it->next(); b != icu::BreakIterator::DONE; b = it->next()) ++count;
  return count;
}

std::string graphemePrefix(std::string_view text, size_t count) {
  icu::UnicodeString u = toUnicode(text);
  auto it = characterIterator(u);
  if (!it) return std::string(text);
  int32_t end = 0;
  for (size_t i = 0; i < count; ++i) {
    int32_t b = it->next();
    if (b == icu::BreakIterator::DONE) break;
    end = b;
  }
  return toUTF8(u.tempSubStringBetween(0, end));
}

struct Regex::Impl {
  std::unique_ptr<icu::RegexPattern> pattern;
};

std::expected<Regex, Error> Regex::create(std::string_view pattern, RegexOptions options) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError{};
  uint32_t flags = options.caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0;
  std::unique_ptr<icu::RegexPattern> compiled(
      icu::RegexPattern::compile(toUnicode(pattern), flags, parseError, status));
  if (U_FAILURE(status) || !compiled) {
    return std::unexpected(Error{CocoaError::domain, kCocoaFormattingError,
                                 {{localizedDescriptionKey, "The value \u201C" + std::string(pattern) +
                                                                "\u201D is invalid."}}});
  }
  auto impl = std::make_shared<Impl>();
  impl->pattern = std::move(compiled);
  return Regex(std::move(impl));
}

namespace {

RegexMatch currentMatch(icu::RegexMatcher& matcher) {
  RegexMatch match;
  const int32_t groups = matcher.groupCount();
  match.groups.reserve(static_cast<size_t>(groups) + 1);
  for (int32_t g = 0; g <= groups; ++g) {
    UErrorCode status = U_ZERO_ERROR;
    if (matcher.start(g, status) < 0 || U_FAILURE(status)) {
      match.groups.emplace_back(std::nullopt);
      continue;
    }
    status = U_ZERO_ERROR;
    icu::UnicodeString text = matcher.group(g, status);
    match.groups.emplace_back(U_SUCCESS(status) ? std::optional(toUTF8(text)) : std::nullopt);
  }
  return match;
}

// Text from outside (window titles, a script's report) can make a pattern
// backtrack for hours; past about a second of matching ICU gives up
// (U_REGEX_TIME_OUT), and the text reads as not matching.
constexpr int32_t matchTimeLimit = 1000;

std::unique_ptr<icu::RegexMatcher> boundedMatcher(const icu::RegexPattern& pattern, const icu::UnicodeString& input,
                                                  UErrorCode& status) {
  std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(input, status));
  if (U_SUCCESS(status)) matcher->setTimeLimit(matchTimeLimit, status);
  return matcher;
}

}  // namespace

std::optional<RegexMatch> Regex::firstMatch(std::string_view text) const {
  icu::UnicodeString input = toUnicode(text);
  UErrorCode status = U_ZERO_ERROR;
  auto matcher = boundedMatcher(*impl_->pattern, input, status);
  if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) return std::nullopt;
  return currentMatch(*matcher);
}

std::vector<RegexMatch> Regex::allMatches(std::string_view text) const {
  icu::UnicodeString input = toUnicode(text);
  UErrorCode status = U_ZERO_ERROR;
  auto matcher = boundedMatcher(*impl_->pattern, input, status);
  std::vector<RegexMatch> out;
  if (U_FAILURE(status)) return out;
  while (matcher->find(status) && U_SUCCESS(status)) out.push_back(currentMatch(*matcher));
  return out;
}

std::string Regex::replacingMatches(std::string_view text, std::string_view replacementTemplate) const {
  icu::UnicodeString input = toUnicode(text);
  UErrorCode status = U_ZERO_ERROR;
  auto matcher = boundedMatcher(*impl_->pattern, input, status);
  if (U_FAILURE(status)) return std::string(text);
  icu::UnicodeString result = matcher->replaceAll(toUnicode(replacementTemplate), status);
  if (U_FAILURE(status)) return std::string(text);
  return toUTF8(result);
}

}  // namespace ostrel
