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
  return json::decodeObject<DriveItemPayload>(value, [](json::KeyedDecoder& k, DriveItemPayload& p) {
    k.read("identifier", p.identifier);
    k.read("parentIdentifier", p.parentIdentifier);
    k.read("kind", p.kind);
    k.read("filename", p.filename);
    k.read("size", p.size);
    k.read("contentVersion", p.contentVersion);
    k.read("metadataVersion", p.metadataVersion);
    k.read("createdAt", p.createdAt);
    k.read("modifiedAt", p.modifiedAt);
    k.read("capabilities", p.capabilities);
    k.read("childCount", p.childCount);
    k.read("versionLabel", p.versionLabel);
    k.read("comment", p.comment);
    k.read("tags", p.tags);
  });
}

}  // namespace ostrel::drive
