#pragma once

#include <string>

#include "drive/model/drive_item_payload.h"
#include "platform/fileprovider/item.h"

namespace ostrel::drive {

// One service item as the file-provider framework sees it. Every property
// is computed from the payload on each read; nothing is cached.
class DriveItem final : public fileprovider::Item {
 public:
  explicit DriveItem(DriveItemPayload payload) : payload_(std::move(payload)) {}

  const DriveItemPayload& payload() const { return payload_; }

  fileprovider::ItemIdentifier itemIdentifier() const override;
  fileprovider::ItemIdentifier parentItemIdentifier() const override;
  std::string filename() const override { return payload_.filename; }
  std::optional<std::string> contentType() const override;
  uint32_t capabilities() const override;
  std::optional<fileprovider::ItemVersion> itemVersion() const override;
  std::optional<int64_t> documentSize() const override { return payload_.size; }
  std::optional<Date> creationDate() const override { return payload_.createdAt; }
  std::optional<Date> contentModificationDate() const override { return payload_.modifiedAt; }
  std::optional<int64_t> childItemCount() const override { return payload_.childCount; }
  fileprovider::UserInfo userInfo() const override;
  fileprovider::ExtendedAttributes extendedAttributes() const override;

 private:
  DriveItemPayload payload_;
};

// The domain's root, which the service never describes.
class RootItem final : public fileprovider::Item {
 public:
  explicit RootItem(std::string name) : name_(std::move(name)) {}

  fileprovider::ItemIdentifier itemIdentifier() const override;
  fileprovider::ItemIdentifier parentItemIdentifier() const override;
  std::string filename() const override { return name_; }
  std::optional<std::string> contentType() const override;
  uint32_t capabilities() const override { return fileprovider::allowsReading; }
  // Renaming the domain changes the root's metadata version.
  std::optional<fileprovider::ItemVersion> itemVersion() const override { return {{"root", name_}}; }

 private:
  std::string name_;
};

}  // namespace ostrel::drive
