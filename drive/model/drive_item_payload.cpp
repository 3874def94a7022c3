#include "drive/model/drive_item_payload.h"

#include "drive/model/drive_item_payload_decoding.h"

namespace ostrel::drive {

std::optional<DriveItemPayload::Kind> kindFromRawValue(std::string_view raw) {
  if (raw == "container") return DriveItemPayload::Kind::container;
  if (raw == "file") return DriveItemPayload::Kind::file;
  return std::nullopt;
}

std::string_view rawValue(DriveItemPayload::Kind kind) {
  return kind == DriveItemPayload::Kind::container ? "container" : "file";
}

json::Decoded<DriveItemPayload::Kind> decode(const json::Value& value, std::type_identity<DriveItemPayload::Kind>) {
  auto raw = json::decodeValue<std::string>(value);
  if (!raw) return std::unexpected(raw.error());
  if (auto kind = kindFromRawValue(*raw)) return *kind;
  return std::unexpected(json::dataCorrupted("Cannot initialize Kind from invalid String value " + *raw));
}

json::Decoded<DriveItemPayload> decode(const json::Value& value, std::type_identity<DriveItemPayload>) {
  auto keyed = json::KeyedDecoder::of(value);
  if (!keyed) return std::unexpected(keyed.error());
  DriveItemPayload p;
  keyed->read("identifier", p.identifier);
  keyed->read("parentIdentifier", p.parentIdentifier);
  keyed->read("kind", p.kind);
  keyed->read("filename", p.filename);
  keyed->read("size", p.size);
  keyed->read("contentVersion", p.contentVersion);
  keyed->read("metadataVersion", p.metadataVersion);
  keyed->read("createdAt", p.createdAt);
  keyed->read("modifiedAt", p.modifiedAt);
  keyed->read("capabilities", p.capabilities);
  keyed->read("childCount", p.childCount);
  keyed->read("versionLabel", p.versionLabel);
  keyed->read("comment", p.comment);
  keyed->read("tags", p.tags);
  return keyed->finish(std::move(p));
}

}  // namespace ostrel::drive
