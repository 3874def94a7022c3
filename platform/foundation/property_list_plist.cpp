#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/foundation/property_list.h"

namespace ostrel {

namespace {

constexpr long kCocoaPropertyListReadCorruptError = 3840;

Error corrupt(std::string description) {
  return Error{CocoaError::domain, kCocoaPropertyListReadCorruptError, {{localizedDescriptionKey, std::move(description)}}};
}

}  // namespace

// Owns the root node of a parsed property list.
struct PropertyList::Tree {
  explicit Tree(plist_t node) : root(node) {}
  ~Tree() { plist_free(root); }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  plist_t root;
};

std::expected<PropertyList, Error> PropertyList::parse(std::string_view bytes) {
  if (bytes.size() > 64 * 1024 * 1024) return std::unexpected(corrupt("property list too large"));
  plist_t root = nullptr;
  const auto length = static_cast<uint32_t>(bytes.size());
  if (bytes.starts_with("bplist00")) {
    plist_from_bin(bytes.data(), length, &root);
  } else {
    plist_from_xml(bytes.data(), length, &root);
  }
  if (!root) return std::unexpected(corrupt("not a property list"));
  auto tree = std::make_shared<const Tree>(root);
  return PropertyList(tree, root);
}

std::expected<PropertyList, Error> PropertyList::readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::unexpected(POSIXError::make(errno ? errno : ENOENT));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return parse(bytes.str());
}

void* PropertyList::valueForKey(std::string_view key) const {
  if (!node_ || plist_get_node_type(static_cast<plist_t>(node_)) != PLIST_DICT) return nullptr;
  return plist_dict_get_item(static_cast<plist_t>(node_), std::string(key).c_str());
}

namespace {

std::optional<std::string> stringValue(plist_t node) {
  if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  // By pointer and length: plist_get_string_val asserts (and so aborts) on a
  // string holding NUL, which any file may.
  uint64_t length = 0;
  const char* value = plist_get_string_ptr(node, &length);
  if (!value) return std::nullopt;
  return std::string(value, length);
}

}  // namespace

std::optional<std::string> PropertyList::stringForKey(std::string_view key) const {
  return stringValue(static_cast<plist_t>(valueForKey(key)));
}

std::optional<std::vector<std::string>> PropertyList::stringArrayForKey(std::string_view key) const {
  plist_t array = static_cast<plist_t>(valueForKey(key));
  if (!array || plist_get_node_type(array) != PLIST_ARRAY) return std::nullopt;
  std::vector<std::string> out;
  for (uint32_t i = 0; i < plist_array_get_size(array); ++i) {
    auto text = stringValue(plist_array_get_item(array, i));
    if (!text) return std::nullopt;
    out.push_back(std::move(*text));
  }
  return out;
}

std::optional<int64_t> PropertyList::integerForKey(std::string_view key) const {
  plist_t node = static_cast<plist_t>(valueForKey(key));
  if (!node || plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
  uint64_t value = 0;
  plist_get_uint_val(node, &value);
  return static_cast<int64_t>(value);
}

std::optional<bool> PropertyList::boolForKey(std::string_view key) const {
  plist_t node = static_cast<plist_t>(valueForKey(key));
  if (!node || plist_get_node_type(node) != PLIST_BOOLEAN) return std::nullopt;
  uint8_t value = 0;
  plist_get_bool_val(node, &value);
  return value != 0;
}

std::optional<PropertyList> PropertyList::dictionaryForKey(std::string_view key) const {
  plist_t node = static_cast<plist_t>(valueForKey(key));
  if (!node || plist_get_node_type(node) != PLIST_DICT) return std::nullopt;
  return PropertyList(tree_, node);
}

std::expected<std::string, Error> binaryPropertyListOfString(std::string_view text) {
  plist_t node = plist_new_string(std::string(text).c_str());
  if (!node) return std::unexpected(corrupt("cannot make a property list"));
  char* bytes = nullptr;  // plist_to_bin writes nothing unless this starts out null
  uint32_t length = 0;
  plist_to_bin(node, &bytes, &length);
  plist_free(node);
  if (!bytes) return std::unexpected(corrupt("cannot encode a property list"));
  std::string out(bytes, length);
  std::free(bytes);
  return out;
}

}  // namespace ostrel
