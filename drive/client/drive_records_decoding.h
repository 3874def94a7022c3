#pragma once

// JSON decoding of the client's records; include in .cpp files only.

#include "drive/client/drive_records.h"
#include "drive/model/drive_item_payload_decoding.h"

namespace ostrel::drive {

json::Decoded<DrivePage> decode(const json::Value& value, std::type_identity<DrivePage>);
json::Decoded<DriveChanges> decode(const json::Value& value, std::type_identity<DriveChanges>);
json::Decoded<DriveHead> decode(const json::Value& value, std::type_identity<DriveHead>);
json::Decoded<DriveContent> decode(const json::Value& value, std::type_identity<DriveContent>);
json::Decoded<DriveUpload> decode(const json::Value& value, std::type_identity<DriveUpload>);
json::Decoded<DriveCreated> decode(const json::Value& value, std::type_identity<DriveCreated>);
json::Decoded<DriveWebUrl> decode(const json::Value& value, std::type_identity<DriveWebUrl>);

}  // namespace ostrel::drive
