#pragma once

// Reading the service's JSON into value records. Include in .cpp files only:
// it brings the whole JSON library along.

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/date.h"
#include "platform/foundation/json.h"
#include "platform/foundation/url.h"

namespace ostrel::json {

struct DecodingError {
  enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted };
  Kind kind = Kind::dataCorrupted;
  std::string codingPath;  // "items.3.createdAt"; empty at the top level
  std::string debugDescription;

  // The debug description with the kind and, where known, the path.
  std::string description() const;
  DecodingError at(std::string_view key) const;
};

template <class T>
using Decoded = std::expected<T, DecodingError>;

DecodingError typeMismatch(std::string_view expected, const Value& found);
DecodingError dataCorrupted(std::string debugDescription);

// Decoders of plain values; records add their own `decode` overloads in
// their namespace, found by argument-dependent lookup.
Decoded<std::string> decode(const Value& value, std::type_identity<std::string>);
Decoded<int64_t> decode(const Value& value, std::type_identity<int64_t>);
Decoded<double> decode(const Value& value, std::type_identity<double>);
Decoded<bool> decode(const Value& value, std::type_identity<bool>);
// Dates are strings read with parseDate; a failure is "bad date <text>".
Decoded<Date> decode(const Value& value, std::type_identity<Date>);
// Addresses must be absolute http or https URLs.
Decoded<URL> decode(const Value& value, std::type_identity<URL>);
// Maps keep their keys exactly as sent.
Decoded<std::map<std::string, std::string>> decode(const Value& value,
                                                   std::type_identity<std::map<std::string, std::string>>);

template <class T>
Decoded<std::vector<T>> decode(const Value& value, std::type_identity<std::vector<T>>);

template <class T>
Decoded<T> decodeValue(const Value& value) {
  return decode(value, std::type_identity<T>{});
}

template <class T>
Decoded<std::vector<T>> decode(const Value& value, std::type_identity<std::vector<T>>) {
  if (!value.is_array()) return std::unexpected(typeMismatch("an array", value));
  std::vector<T> out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    auto element = decodeValue<T>(value[i]);
    if (!element) return std::unexpected(element.error().at(std::to_string(i)));
    out.push_back(std::move(*element));
  }
  return out;
}

// Reads the members of one JSON object under the service's key rule.
// Fields are read in turn; the first failure is kept and reported by finish().
class KeyedDecoder {
 public:
  static Decoded<KeyedDecoder> of(const Value& value);

  // A required field: present and not null.
  template <class T>
  void read(std::string_view key, T& out) {
    if (error_) return;
    const Value* member = find(key);
    if (!member) return fail({DecodingError::Kind::keyNotFound, std::string(key), "No value associated with key."});
    if (member->is_null()) {
      return fail({DecodingError::Kind::valueNotFound, std::string(key), "Expected a value but found null."});
    }
    assign(key, decodeValue<T>(*member), out);
  }

  // An optional field: absent and null both give nothing.
  template <class T>
  void read(std::string_view key, std::optional<T>& out) {
    if (error_) return;
    const Value* member = find(key);
    if (!member || member->is_null()) {
      out.reset();
      return;
    }
    assign(key, decodeValue<T>(*member), out);
  }

  template <class T>
  Decoded<T> finish(T&& value) {
    if (error_) return std::unexpected(std::move(*error_));
    return std::forward<T>(value);
  }

 private:
  const Value* find(std::string_view key) const;
  void fail(DecodingError error) { error_ = std::move(error); }

  template <class T, class Out>
  void assign(std::string_view key, Decoded<T>&& decoded, Out& out) {
    if (decoded) {
      out = std::move(*decoded);
    } else {
      fail(decoded.error().at(key));
    }
  }

  std::vector<std::pair<std::string, const Value*>> members_;
  std::optional<DecodingError> error_;
};

// Decodes a record from a JSON object: `fields(keyed, record)` reads each
// field in turn, e.g. [](KeyedDecoder& k, Page& p) { k.read("items", p.items); }.
template <class T, class Fields>
Decoded<T> decodeObject(const Value& value, Fields&& fields) {
  auto keyed = KeyedDecoder::of(value);
  if (!keyed) return std::unexpected(keyed.error());
  T record{};
  fields(*keyed, record);
  return keyed->finish(std::move(record));
}

// Parses a response body and decodes it. A body that is not JSON (or not
// UTF-8) is a data-corruption error, never an exception.
template <class T>
Decoded<T> decodeBody(std::string_view body) {
  Value value = Value::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::unexpected(dataCorrupted("The given data was not valid JSON."));
  return decodeValue<T>(value);
}

}  // namespace ostrel::json
