#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tools/reference-service/blob_store.h"
#include "tools/reference-service/clock.h"
#include "tools/reference-service/store.h"

namespace ostrel::refsvc {

// Upload slots: granted by the drive API, put once at their transfer
// address, then taken by exactly one write (create or draft).
inline constexpr Micros uploadSlotLifetime = 15 * 60 * microsPerSecond;
// Download tickets: pre-authorised addresses of one file's bytes.
inline constexpr Micros ticketLifetime = 5 * 60 * microsPerSecond;

struct UploadRequest {
  std::string item;
  std::string filename;
  std::optional<int64_t> size;
};
struct UploadGrant {
  std::string id;
  std::string signature;
  Micros expiresAt = 0;
};
// The item must exist and let the partner write; the name must be a
// document type the service keeps.
Result<UploadGrant> grantUpload(Store& store, const UploadRequest& request);

struct UploadTarget {
  std::string id;
  std::optional<int64_t> announcedSize;
};
// Claims an open slot for one put: unknown slot or wrong signature 403,
// expired 403, already put 409 already_uploaded.
Result<UploadTarget> beginUpload(Store& store, std::string_view id, std::string_view signature);
// The bytes arrived in full: the slot may now be taken by a write.
Result<void> completeUpload(Store& store, const BlobStore& blobs, std::string_view id, int64_t received);
// The put failed: its bytes are dropped and the slot can be put again.
void abandonUpload(Store& store, const BlobStore& blobs, std::string_view id);
Result<int64_t> expireUploads(Store& store);

struct TakenUpload {
  std::string blob;
  int64_t size = 0;
  std::string filename;
};
// Inside a write: the put upload granted for `item` becomes a blob
// (409 upload_missing when there is no such finished, unused upload).
Result<TakenUpload> takeUpload(Database& db, const BlobStore& blobs, std::string_view uploadId, std::string_view item);

// A download ticket for a file item, and the item's payload as of now
// (containers are 409 not_a_file).
struct IssuedTicket {
  std::string ticket;
  nlohmann::json item;
};
Result<IssuedTicket> issueTicket(Store& store, std::string_view itemId);

struct Redeemed {
  std::string filename;
  std::string blob;
};
// An unknown or expired ticket is 403.
Result<Redeemed> redeemTicket(Store& store, std::string_view ticket);
Result<int64_t> expireTickets(Store& store);

}  // namespace ostrel::refsvc
