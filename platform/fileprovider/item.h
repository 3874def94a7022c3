#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/fileprovider/item_identifier.h"
#include "platform/foundation/date.h"

namespace ostrel::fileprovider {

// NSFileProviderItemCapabilities.
enum ItemCapabilities : uint32_t {
  allowsReading = 1,  // also allows content enumeration
  allowsWriting = 2,  // also allows adding sub-items
  allowsReparenting = 4,
  allowsRenaming = 8,
  allowsTrashing = 16,
  allowsDeleting = 32,
  allowsEvicting = 64,
  allowsExcludingFromSync = 128,
};

// NSFileProviderItemFields: what changed in a modification.
enum ItemFields : uint32_t {
  contentsField = 1,
  filenameField = 2,
  parentItemIdentifierField = 4,
  lastUsedDateField = 8,
  tagDataField = 16,
  favoriteRankField = 32,
  creationDateField = 64,
  contentModificationDateField = 128,
  fileSystemFlagsField = 256,
  extendedAttributesField = 512,
  typeAndCreatorField = 1024,
};

// Opaque version bytes: the framework compares them, never reads them.
struct ItemVersion {
  std::string contentVersion;
  std::string metadataVersion;
  friend bool operator==(const ItemVersion&, const ItemVersion&) = default;
};

using UserInfo = std::map<std::string, bool>;
// Attribute name -> value bytes.
using ExtendedAttributes = std::map<std::string, std::string>;

// What the framework reads of an item. Optional properties an item does not
// implement answer nothing, and the framework's defaults apply.
class Item {
 public:
  virtual ~Item() = default;
  virtual ItemIdentifier itemIdentifier() const = 0;
  virtual ItemIdentifier parentItemIdentifier() const = 0;
  virtual std::string filename() const = 0;
  // A uniform type identifier; nothing when the item does not say.
  virtual std::optional<std::string> contentType() const { return std::nullopt; }
  virtual uint32_t capabilities() const { return allowsReading; }
  virtual std::optional<ItemVersion> itemVersion() const { return std::nullopt; }
  virtual std::optional<int64_t> documentSize() const { return std::nullopt; }
  virtual std::optional<Date> creationDate() const { return std::nullopt; }
  virtual std::optional<Date> contentModificationDate() const { return std::nullopt; }
  virtual std::optional<int64_t> childItemCount() const { return std::nullopt; }
  virtual UserInfo userInfo() const { return {}; }
  virtual ExtendedAttributes extendedAttributes() const { return {}; }
};

using ItemPtr = std::shared_ptr<const Item>;

}  // namespace ostrel::fileprovider
