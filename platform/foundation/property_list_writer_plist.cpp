#include <plist/plist.h>

#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/property_list.h"
#include "platform/foundation/property_list_writer.h"
#include "platform/foundation/text.h"

namespace ostrel {

namespace {

constexpr long kCocoaPropertyListReadCorruptError = 3840;
constexpr long kCocoaPropertyListWriteInvalidError = 3851;

Error plistError(long code, std::string description) {
  return Error{CocoaError::domain, code, {{localizedDescriptionKey, std::move(description)}}};
}

plist_t node(void* root) {
  return static_cast<plist_t>(root);
}

// libplist writes a string cut short at a NUL, and in the binary form at the
// first byte that is not UTF-8: a tree holding such a string value is refused
// whole instead. Iterative, since a tree read from a file may nest deeper than the
// stack.
bool writableText(std::string_view text) {
  return text.find('\0') == std::string_view::npos && isValidUTF8(text);
}

bool onlyWritableText(plist_t root) {
  std::vector<plist_t> pending{root};
  while (!pending.empty()) {
    const plist_t item = pending.back();
    pending.pop_back();
    switch (plist_get_node_type(item)) {
      case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(item, &length);
        if (!text || !writableText(std::string_view(text, length))) return false;
        break;
      }
      case PLIST_ARRAY:
        for (uint32_t k = 0; k < plist_array_get_size(item); ++k) pending.push_back(plist_array_get_item(item, k));
        break;
      case PLIST_DICT: {
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(item, &iterator);
        for (;;) {
          // Keys are not looked at: libplist's key reader asserts (and so
          // aborts) on a key holding NUL, and it offers no other.
          plist_t value = nullptr;
          plist_dict_next_item(item, iterator, nullptr, &value);
          if (!value) break;
          pending.push_back(value);
        }
        std::free(iterator);
        break;
      }
      default:
        break;
    }
  }
  return true;
}

}  // namespace

MutablePropertyList::MutablePropertyList() : root_(plist_new_dict()) {}

MutablePropertyList::~MutablePropertyList() {
  if (root_) plist_free(node(root_));
}

MutablePropertyList::MutablePropertyList(MutablePropertyList&& other) noexcept
    : root_(std::exchange(other.root_, nullptr)) {}

MutablePropertyList& MutablePropertyList::operator=(MutablePropertyList&& other) noexcept {
  if (this != &other) {
    if (root_) plist_free(node(root_));
    root_ = std::exchange(other.root_, nullptr);
  }
  return *this;
}

std::expected<MutablePropertyList, Error> MutablePropertyList::parse(std::string_view bytes) {
  if (bytes.size() > 64 * 1024 * 1024) {
    return std::unexpected(plistError(kCocoaPropertyListReadCorruptError, "property list too large"));
  }
  plist_t root = nullptr;  // a failed parse leaves it null
  const auto length = static_cast<uint32_t>(bytes.size());
  if (bytes.starts_with("bplist00")) {
    plist_from_bin(bytes.data(), length, &root);
  } else {
    plist_from_xml(bytes.data(), length, &root);
  }
  if (!root) return std::unexpected(plistError(kCocoaPropertyListReadCorruptError, "not a property list"));
  if (plist_get_node_type(root) != PLIST_DICT) {
    plist_free(root);
    return std::unexpected(plistError(kCocoaPropertyListReadCorruptError, "the property list is not a dictionary"));
  }
  return MutablePropertyList(root);
}

void MutablePropertyList::set(std::string_view key, void* value) {
  if (!root_) root_ = plist_new_dict();
  // The dictionary takes the node and frees the one it replaces.
  plist_dict_set_item(node(root_), std::string(key).c_str(), node(value));
}

void MutablePropertyList::setInteger(std::string_view key, int64_t value) {
  // libplist keeps every integer as unsigned; a negative one travels as its
  // two's complement and the reader casts it back.
  set(key, plist_new_uint(static_cast<uint64_t>(value)));
}

void MutablePropertyList::setString(std::string_view key, std::string_view value) {
  set(key, plist_new_string(std::string(value).c_str()));
}

void MutablePropertyList::setStringArray(std::string_view key, const std::vector<std::string>& values) {
  plist_t array = plist_new_array();
  for (const auto& value : values) plist_array_append_item(array, plist_new_string(value.c_str()));
  set(key, array);
}

void MutablePropertyList::setBool(std::string_view key, bool value) {
  set(key, plist_new_bool(value ? 1 : 0));
}

void MutablePropertyList::remove(std::string_view key) {
  if (root_ && plist_dict_get_item(node(root_), std::string(key).c_str())) {
    plist_dict_remove_item(node(root_), std::string(key).c_str());
  }
}

std::expected<std::string, Error> MutablePropertyList::serialized(PropertyListFormat format) const {
  if (!root_) return std::unexpected(plistError(kCocoaPropertyListWriteInvalidError, "no property list"));
  if (!onlyWritableText(node(root_))) {
    return std::unexpected(
        plistError(kCocoaPropertyListWriteInvalidError, "a string in the property list holds NUL or is not UTF-8"));
  }
  char* bytes = nullptr;  // both writers write nothing unless this starts out null
  uint32_t length = 0;
  if (format == PropertyListFormat::binary) {
    plist_to_bin(node(root_), &bytes, &length);
  } else {
    plist_to_xml(node(root_), &bytes, &length);
  }
  if (!bytes) return std::unexpected(plistError(kCocoaPropertyListWriteInvalidError, "cannot encode a property list"));
  std::string out(bytes, length);
  std::free(bytes);
  // libplist can write what it cannot read again (seen with binary lists read
  // from hostile files); such bytes would lose the whole suite on the next read.
  if (!parse(out)) {
    return std::unexpected(plistError(kCocoaPropertyListWriteInvalidError, "the property list does not read back"));
  }
  return out;
}

}  // namespace ostrel
