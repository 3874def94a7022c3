#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/fileprovider/item.h"

namespace ostrel::fileprovider {

// An item as the system describes it to the extension: the template of a new
// item, or an existing item with the name and parent the user gave it.
class ItemSnapshot final : public Item {
 public:
  ItemIdentifier identifier;
  ItemIdentifier parent;
  std::string name;
  std::optional<std::string> type;
  uint32_t itemCapabilities = allowsReading | allowsWriting | allowsRenaming | allowsReparenting | allowsDeleting;
  std::optional<ItemVersion> version;
  std::optional<int64_t> size;
  std::optional<Date> created;
  std::optional<Date> modified;
  ExtendedAttributes attributes;

  // Everything `item` says, to be changed where the user changed it.
  static ItemSnapshot of(const Item& item);
  // A new document or folder named `name` in `parent`, typed from its name
  // (documents) or as a folder.
  static ItemSnapshot newItem(const ItemIdentifier& parent, const std::string& name, bool folder);

  ItemIdentifier itemIdentifier() const override { return identifier; }
  ItemIdentifier parentItemIdentifier() const override { return parent; }
  std::string filename() const override { return name; }
  std::optional<std::string> contentType() const override { return type; }
  uint32_t capabilities() const override { return itemCapabilities; }
  std::optional<ItemVersion> itemVersion() const override { return version; }
  std::optional<int64_t> documentSize() const override { return size; }
  std::optional<Date> creationDate() const override { return created; }
  std::optional<Date> contentModificationDate() const override { return modified; }
  ExtendedAttributes extendedAttributes() const override { return attributes; }
};

}  // namespace ostrel::fileprovider
