#include "drive/client/drive_records_decoding.h"

namespace ostrel::drive {

using json::KeyedDecoder;

json::Decoded<DrivePage> decode(const json::Value& value, std::type_identity<DrivePage>) {
  return json::decodeObject<DrivePage>(value, [](KeyedDecoder& k, DrivePage& page) {
    k.read("items", page.items);
    k.read("nextPage", page.nextPage);
  });
}

json::Decoded<DriveChanges> decode(const json::Value& value, std::type_identity<DriveChanges>) {
  return json::decodeObject<DriveChanges>(value, [](KeyedDecoder& k, DriveChanges& changes) {
    k.read("updated", changes.updated);
    k.read("deleted", changes.deleted);
    k.read("anchor", changes.anchor);
    k.read("more", changes.more);
  });
}

json::Decoded<DriveHead> decode(const json::Value& value, std::type_identity<DriveHead>) {
  return json::decodeObject<DriveHead>(value, [](KeyedDecoder& k, DriveHead& head) { k.read("anchor", head.anchor); });
}

json::Decoded<DriveContent> decode(const json::Value& value, std::type_identity<DriveContent>) {
  return json::decodeObject<DriveContent>(value, [](KeyedDecoder& k, DriveContent& content) {
    k.read("url", content.url);
    k.read("item", content.item);
  });
}

json::Decoded<DriveUpload> decode(const json::Value& value, std::type_identity<DriveUpload>) {
  return json::decodeObject<DriveUpload>(value, [](KeyedDecoder& k, DriveUpload& upload) {
    k.read("uploadId", upload.uploadId);
    k.read("url", upload.url);
    k.read("headers", upload.headers);
    k.read("expiresAt", upload.expiresAt);
  });
}

json::Decoded<DriveCreated> decode(const json::Value& value, std::type_identity<DriveCreated>) {
  return json::decodeObject<DriveCreated>(value, [](KeyedDecoder& k, DriveCreated& created) {
    k.read("item", created.item);
    k.read("outcome", created.outcome);
  });
}

json::Decoded<DriveWebUrl> decode(const json::Value& value, std::type_identity<DriveWebUrl>) {
  return json::decodeObject<DriveWebUrl>(value, [](KeyedDecoder& k, DriveWebUrl& web) { k.read("url", web.url); });
}

}  // namespace ostrel::drive
