#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "drive/model/drive_item_payload.h"
#include "platform/foundation/date.h"
#include "platform/foundation/url.h"

namespace ostrel::drive {

// One page of a container's children.
struct DrivePage {
  std::vector<DriveItemPayload> items;
  std::optional<std::string> nextPage;  // absent on the last page
};

// The change feed after an anchor.
struct DriveChanges {
  std::vector<DriveItemPayload> updated;
  std::vector<std::string> deleted;
  std::string anchor;
  bool more = false;
};

struct DriveHead {
  std::string anchor;
};

// Where to fetch an item's bytes, and the item they belong to.
struct DriveContent {
  URL url;
  DriveItemPayload item;
};

// A slot to put bytes to before a write quotes its upload identifier.
struct DriveUpload {
  std::string uploadId;
  URL url;
  std::map<std::string, std::string> headers;
  std::optional<Date> expiresAt;
};

struct DriveCreated {
  DriveItemPayload item;
  std::string outcome;
};

struct DriveWebUrl {
  std::string url;
};

}  // namespace ostrel::drive
