#include "platform/fileprovider/fuse/item_snapshot.h"

#include "platform/foundation/uniform_type.h"

namespace ostrel::fileprovider {

ItemSnapshot ItemSnapshot::of(const Item& item) {
  ItemSnapshot snapshot;
  snapshot.identifier = item.itemIdentifier();
  snapshot.parent = item.parentItemIdentifier();
  snapshot.name = item.filename();
  snapshot.type = item.contentType();
  snapshot.itemCapabilities = item.capabilities();
  snapshot.version = item.itemVersion();
  snapshot.size = item.documentSize();
  snapshot.created = item.creationDate();
  snapshot.modified = item.contentModificationDate();
  snapshot.attributes = item.extendedAttributes();
  return snapshot;
}

ItemSnapshot ItemSnapshot::newItem(const ItemIdentifier& parent, const std::string& name, bool folder) {
  ItemSnapshot snapshot;
  snapshot.parent = parent;
  snapshot.name = name;
  snapshot.type = folder ? std::string(UTType::folder)
                         : UTType::forFilenameExtension(pathExtension(name)).value_or(UTType::data);
  return snapshot;
}

}  // namespace ostrel::fileprovider
