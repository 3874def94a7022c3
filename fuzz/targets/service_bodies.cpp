// A response body of the document service, for every record the client
// decodes, and what the drive makes of an item (identifiers, versions,
// attributes). The first byte picks the record; the rest is the body.

#include "drive/client/drive_records_decoding.h"
#include "drive/client/service_errors.h"
#include "drive/model/drive_item.h"
#include "fuzz/fuzz_target.h"

using namespace ostrel;
using namespace ostrel::drive;

namespace {

void lookAt(const DriveItemPayload& payload) {
  const DriveItem item(payload);
  (void)item.itemIdentifier();
  (void)item.parentItemIdentifier();
  (void)item.contentType();
  (void)item.capabilities();
  (void)item.itemVersion();
  (void)item.userInfo();
  (void)item.extendedAttributes();
}

template <class Record>
json::Decoded<Record> decoded(std::string_view body) {
  auto record = json::decodeBody<Record>(body);
  if (!record) FUZZ_CHECK(!record.error().description().empty());
  return record;
}

}  // namespace

FUZZ_TARGET(service_bodies) {
  if (input.empty()) return;
  const std::string_view body = input.substr(1);
  switch (static_cast<unsigned char>(input[0]) % 9) {
    case 0:
      if (auto page = decoded<DrivePage>(body)) {
        for (const auto& item : page->items) lookAt(item);
      }
      break;
    case 1:
      if (auto changes = decoded<DriveChanges>(body)) {
        for (const auto& item : changes->updated) lookAt(item);
      }
      break;
    case 2: decoded<DriveHead>(body); break;
    case 3:
      if (auto content = decoded<DriveContent>(body)) lookAt(content->item);
      break;
    case 4: decoded<DriveUpload>(body); break;
    case 5:
      if (auto created = decoded<DriveCreated>(body)) lookAt(created->item);
      break;
    case 6: decoded<DriveWebUrl>(body); break;
    case 7:
      if (auto item = decoded<DriveItemPayload>(body)) lookAt(*item);
      break;
    default:
      // An error body: only its code is read, for any status.
      (void)serviceErrorCode(body);
      for (long status : {401L, 403L, 404L, 410L, 500L}) (void)errorForStatus(status, body, body);
      break;
  }
}
