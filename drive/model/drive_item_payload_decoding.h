#pragma once

// JSON decoding of the model's records; include in .cpp files only.

#include "drive/model/drive_item_payload.h"
#include "platform/foundation/json_decoding.h"

namespace ostrel::drive {

json::Decoded<DriveItemPayload::Kind> decode(const json::Value& value, std::type_identity<DriveItemPayload::Kind>);
json::Decoded<DriveItemPayload> decode(const json::Value& value, std::type_identity<DriveItemPayload>);

}  // namespace ostrel::drive
