#include "platform/foundation/json.h"

#include <cmath>
#include <limits>

#include "platform/foundation/json_decoding.h"

namespace ostrel::json {

std::string compact(const Value& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

std::string convertFromSnakeCase(std::string_view key) {
  if (key.find('_') == std::string_view::npos) return std::string(key);
  const size_t first = key.find_first_not_of('_');
  if (first == std::string_view::npos) return std::string(key);
  const size_t last = key.find_last_not_of('_');
  std::string_view core = key.substr(first, last - first + 1);

  std::vector<std::string_view> words;
  for (size_t start = 0; start <= core.size();) {
    size_t end = core.find('_', start);
    if (end == std::string_view::npos) end = core.size();
    if (end > start) words.push_back(core.substr(start, end - start));
    start = end + 1;
  }

  std::string out(key.substr(0, first));
  if (words.size() == 1) {
    out += core;
  } else {
    for (size_t w = 0; w < words.size(); ++w) {
      for (size_t i = 0; i < words[w].size(); ++i) {
        out += (w > 0 && i == 0) ? asciiUpper(words[w][i]) : asciiLower(words[w][i]);
      }
    }
  }
  out += key.substr(last + 1);
  return out;
}

std::string DecodingError::description() const {
  std::string kindName;
  switch (kind) {
    case Kind::keyNotFound: kindName = "keyNotFound"; break;
    case Kind::valueNotFound: kindName = "valueNotFound"; break;
    case Kind::typeMismatch: kindName = "typeMismatch"; break;
    case Kind::dataCorrupted: kindName = "dataCorrupted"; break;
  }
  std::string out = kindName + ": " + debugDescription;
  if (!codingPath.empty()) out += " (at " + codingPath + ")";
  return out;
}

DecodingError DecodingError::at(std::string_view key) const {
  DecodingError out = *this;
  out.codingPath = codingPath.empty() ? std::string(key) : std::string(key) + "." + codingPath;
  return out;
}

DecodingError typeMismatch(std::string_view expected, const Value& found) {
  return {DecodingError::Kind::typeMismatch, "",
          "Expected " + std::string(expected) + " but found " + std::string(found.type_name()) + "."};
}

DecodingError dataCorrupted(std::string debugDescription) {
  return {DecodingError::Kind::dataCorrupted, "", std::move(debugDescription)};
}

Decoded<std::string> decode(const Value& value, std::type_identity<std::string>) {
  if (!value.is_string()) return std::unexpected(typeMismatch("a string", value));
  return value.get_ref<const std::string&>();
}

Decoded<int64_t> decode(const Value& value, std::type_identity<int64_t>) {
  if (value.is_number_unsigned()) {
    auto n = value.get<uint64_t>();
    if (n > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return std::unexpected(dataCorrupted("Number " + std::to_string(n) + " does not fit in Int."));
    }
    return static_cast<int64_t>(n);
  }
  if (value.is_number_integer()) return value.get<int64_t>();
  if (value.is_number_float()) {
    // A whole number written with a fraction (3.0) still reads as an integer.
    double d = value.get<double>();
    if (std::trunc(d) == d && d >= -9.2e18 && d <= 9.2e18) return static_cast<int64_t>(d);
    return std::unexpected(dataCorrupted("Number " + value.dump() + " does not fit in Int."));
  }
  return std::unexpected(typeMismatch("an integer", value));
}

Decoded<double> decode(const Value& value, std::type_identity<double>) {
  if (!value.is_number()) return std::unexpected(typeMismatch("a number", value));
  return value.get<double>();
}

Decoded<bool> decode(const Value& value, std::type_identity<bool>) {
  if (!value.is_boolean()) return std::unexpected(typeMismatch("a boolean", value));
  return value.get<bool>();
}

Decoded<Date> decode(const Value& value, std::type_identity<Date>) {
  if (!value.is_string()) return std::unexpected(typeMismatch("a date string", value));
  const auto& text = value.get_ref<const std::string&>();
  if (auto date = parseDate(text)) return *date;
  return std::unexpected(dataCorrupted("bad date " + text));
}

Decoded<URL> decode(const Value& value, std::type_identity<URL>) {
  if (!value.is_string()) return std::unexpected(typeMismatch("a URL string", value));
  const auto& text = value.get_ref<const std::string&>();
  if (auto url = URL::parse(text)) return *url;
  return std::unexpected(dataCorrupted("Invalid URL string " + text));
}

Decoded<std::map<std::string, std::string>> decode(const Value& value,
                                                   std::type_identity<std::map<std::string, std::string>>) {
  if (!value.is_object()) return std::unexpected(typeMismatch("an object", value));
  std::map<std::string, std::string> out;
  for (const auto& [key, member] : value.items()) {
    if (!member.is_string()) return std::unexpected(typeMismatch("a string", member).at(key));
    out.emplace(key, member.get_ref<const std::string&>());
  }
  return out;
}

Decoded<KeyedDecoder> KeyedDecoder::of(const Value& value) {
  if (!value.is_object()) return std::unexpected(typeMismatch("an object", value));
  KeyedDecoder decoder;
  decoder.members_.reserve(value.size());
  for (auto it = value.begin(); it != value.end(); ++it) {
    decoder.members_.emplace_back(convertFromSnakeCase(it.key()), &it.value());
  }
  return decoder;
}

const Value* KeyedDecoder::find(std::string_view key) const {
  // When both spellings of a key are sent, the later in key order wins.
  for (auto it = members_.rbegin(); it != members_.rend(); ++it) {
    if (it->first == key) return it->second;
  }
  return nullptr;
}

}  // namespace ostrel::json
