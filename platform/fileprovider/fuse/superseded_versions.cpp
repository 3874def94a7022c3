#include "platform/fileprovider/fuse/superseded_versions.h"

#include <tuple>

namespace ostrel::fileprovider {

bool SupersededVersions::Less::operator()(const Record& a, const Record& b) const {
  auto key = [](const Record& r) {
    return std::tuple(r.first.rawValue, r.second.has_value(), r.second ? r.second->contentVersion : std::string(),
                      r.second ? r.second->metadataVersion : std::string());
  };
  return key(a) < key(b);
}

void SupersededVersions::add(Record record) {
  if (!records_.insert(record).second) return;
  order_.push_back(std::move(record));
  if (order_.size() > capacity_) {
    records_.erase(order_.front());
    order_.pop_front();
  }
}

void SupersededVersions::modified(const ItemIdentifier& identifier, const ItemVersion& before) {
  add({identifier, before});
}

void SupersededVersions::deleted(const ItemIdentifier& identifier) {
  add({identifier, std::nullopt});
}

bool SupersededVersions::isStale(const Item& item) const {
  const ItemIdentifier identifier = item.itemIdentifier();
  // The service never hands out a deleted identifier again.
  if (records_.contains({identifier, std::nullopt})) return true;
  auto version = item.itemVersion();
  return version && records_.contains({identifier, *version});
}

}  // namespace ostrel::fileprovider
