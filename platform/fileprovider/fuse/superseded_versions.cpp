#include "platform/fileprovider/fuse/superseded_versions.h"

namespace ostrel::fileprovider {

void SupersededVersions::add(Record record) {
  if (!records_.insert(record).second) return;
  order_.push_back(std::move(record));
  if (order_.size() > capacity_) {
    records_.erase(order_.front());
    order_.pop_front();
  }
}

void SupersededVersions::modified(const ItemIdentifier& identifier, const ItemVersion& before) {
  add({identifier, Kind::modified, before.contentVersion, before.metadataVersion});
}

void SupersededVersions::moved(const ItemIdentifier& identifier, const std::string& metadataVersionBefore) {
  add({identifier, Kind::moved, {}, metadataVersionBefore});
}

void SupersededVersions::deleted(const ItemIdentifier& identifier) {
  add({identifier, Kind::deleted, {}, {}});
}

bool SupersededVersions::isStale(const Item& item) const {
  const ItemIdentifier identifier = item.itemIdentifier();
  // The service never hands out a deleted identifier again.
  if (records_.contains({identifier, Kind::deleted, {}, {}})) return true;
  auto version = item.itemVersion();
  if (!version) return false;
  return records_.contains({identifier, Kind::modified, version->contentVersion, version->metadataVersion}) ||
         records_.contains({identifier, Kind::moved, {}, version->metadataVersion});
}

}  // namespace ostrel::fileprovider
