#include "tools/reference-service/service.h"

#include "tools/reference-service/items.h"

namespace ostrel::refsvc {

Result<std::unique_ptr<Service>> Service::open(const std::filesystem::path& dataDirectory) {
  auto blobs = BlobStore::open(dataDirectory);
  if (!blobs) return std::unexpected(blobs.error());
  auto store = Store::open(dataDirectory / "service.sqlite3");
  if (!store) return std::unexpected(store.error());
  auto fixed = (*store)->write([](Database& db) { return ensureFixedItems(db, nowMicros()); });
  if (!fixed) return std::unexpected(fixed.error());
  return std::unique_ptr<Service>(new Service(std::move(*store), std::move(*blobs)));
}

bool Service::takeRefusal() {
  int64_t pending = pendingRefusals_.load();
  while (pending > 0) {
    if (pendingRefusals_.compare_exchange_weak(pending, pending - 1)) return true;
  }
  return false;
}

Result<bool> Service::driveEnabled() {
  return store_->read([](const Database& db) -> Result<bool> {
    auto value = metaValue(db, "drive_enabled");
    if (!value) return std::unexpected(value.error());
    return !*value || **value != "0";
  });
}

Result<void> Service::setDriveEnabled(bool enabled) {
  return store_->write(
      [enabled](Database& db) -> Result<void> { return setMetaValue(db, "drive_enabled", enabled ? "1" : "0"); });
}

}  // namespace ostrel::refsvc
