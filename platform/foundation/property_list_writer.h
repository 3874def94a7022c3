#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"

namespace ostrel {

enum class PropertyListFormat { xml, binary };

// A property list whose root is a dictionary, being changed entry by entry
// and written out again. Entries that are not touched keep their values and
// types, so a writer that knows one key does not lose the others.
class MutablePropertyList {
 public:
  // An empty dictionary.
  MutablePropertyList();
  // XML or binary bytes; fails when they are not a property list or the
  // root is not a dictionary.
  static std::expected<MutablePropertyList, Error> parse(std::string_view bytes);
  ~MutablePropertyList();
  MutablePropertyList(MutablePropertyList&& other) noexcept;
  MutablePropertyList& operator=(MutablePropertyList&& other) noexcept;
  MutablePropertyList(const MutablePropertyList&) = delete;
  MutablePropertyList& operator=(const MutablePropertyList&) = delete;

  void setInteger(std::string_view key, int64_t value);
  void setString(std::string_view key, std::string_view value);
  void setStringArray(std::string_view key, const std::vector<std::string>& values);
  void setBool(std::string_view key, bool value);
  void remove(std::string_view key);

  std::expected<std::string, Error> serialized(PropertyListFormat format) const;

 private:
  explicit MutablePropertyList(void* root) : root_(root) {}
  void set(std::string_view key, void* node);

  void* root_;  // a libplist dictionary node, owned
};

}  // namespace ostrel
