#include "tools/reference-service/transfers.h"

#include "tools/reference-service/ids.h"
#include "tools/reference-service/items.h"
#include "tools/reference-service/names.h"

namespace ostrel::refsvc {

Result<UploadGrant> grantUpload(Store& store, const UploadRequest& request) {
  return store.write([&](Database& db) -> Result<UploadGrant> {
    auto item = requireItem(db, request.item);
    if (!item) return std::unexpected(item.error());
    if (capabilities(*item).empty()) return forbidden("The partner may not write to " + item->id + ".");
    if (!isValidName(request.filename)) return fail(422, "invalid_name", "Not a usable file name.");
    if (!documentContentType(request.filename)) {
      return fail(422, "unknown_file_type", "Ostrel does not keep files of this type.");
    }
    if (request.size && *request.size < 0) return fail(422, "invalid_request", "A size cannot be negative.");
    UploadGrant grant{randomHex(16), randomHex(16), nowMicros() + uploadSlotLifetime};
    auto inserted = db.run(
        "INSERT INTO uploads(id, sig, item, filename, size, state, expires_at) VALUES(?, ?, ?, ?, ?, 'open', ?)",
        grant.id, grant.signature, request.item, request.filename, request.size, grant.expiresAt);
    if (!inserted) return std::unexpected(inserted.error());
    return grant;
  });
}

Result<UploadTarget> beginUpload(Store& store, std::string_view id, std::string_view signature) {
  return store.write([&](Database& db) -> Result<UploadTarget> {
    auto slot = db.query("SELECT sig, state, expires_at, size FROM uploads WHERE id = ?", id);
    if (!slot) return std::unexpected(slot.error());
    auto row = slot->step();
    if (!row) return std::unexpected(row.error());
    if (!*row || slot->text(0) != signature) return fail(403, "upload_denied", "This upload address is not valid.");
    const std::string state = slot->text(1);
    if (state == "uploaded" || state == "used") {
      return fail(409, "already_uploaded", "The bytes of this upload have already been put.");
    }
    if (state == "receiving") return fail(409, "upload_in_progress", "The bytes of this upload are arriving.");
    if (slot->integer(2) <= nowMicros()) return fail(403, "upload_expired", "This upload address has expired.");
    UploadTarget target{std::string(id), slot->optionalInteger(3)};
    if (auto claimed = db.run("UPDATE uploads SET state = 'receiving' WHERE id = ?", id); !claimed) {
      return std::unexpected(claimed.error());
    }
    return target;
  });
}

Result<void> completeUpload(Store& store, const BlobStore& blobs, std::string_view id, int64_t received) {
  return store.write([&](Database& db) -> Result<void> {
    if (auto finished = blobs.finishUpload(id); !finished) return finished;
    return db.run("UPDATE uploads SET state = 'uploaded', received = ? WHERE id = ?", received, id);
  });
}

void abandonUpload(Store& store, const BlobStore& blobs, std::string_view id) {
  blobs.discardUpload(id);
  (void)store.write([&](Database& db) -> Result<void> {
    return db.run("UPDATE uploads SET state = 'open' WHERE id = ? AND state = 'receiving'", id);
  });
}

Result<int64_t> expireUploads(Store& store) {
  return store.write([&](Database& db) -> Result<int64_t> {
    auto expired = db.run("UPDATE uploads SET expires_at = ? WHERE state = 'open' AND expires_at > ?",
                          nowMicros() - 1, nowMicros());
    if (!expired) return std::unexpected(expired.error());
    return db.changes();
  });
}

Result<TakenUpload> takeUpload(Database& db, const BlobStore& blobs, std::string_view uploadId,
                               std::string_view item) {
  auto slot = db.query("SELECT received, filename FROM uploads WHERE id = ? AND item = ? AND state = 'uploaded'",
                       uploadId, item);
  if (!slot) return std::unexpected(slot.error());
  auto row = slot->step();
  if (!row) return std::unexpected(row.error());
  if (!*row) return fail(409, "upload_missing", "No finished upload " + std::string(uploadId) + " for " +
                                                    std::string(item) + ".");
  TakenUpload taken{"", slot->integer(0), slot->text(1)};
  if (auto used = db.run("UPDATE uploads SET state = 'used' WHERE id = ?", uploadId); !used) {
    return std::unexpected(used.error());
  }
  auto blob = blobs.adoptUpload(uploadId);
  if (!blob) return std::unexpected(blob.error());
  taken.blob = std::move(*blob);
  return taken;
}

Result<IssuedTicket> issueTicket(Store& store, std::string_view itemId) {
  return store.write([&](Database& db) -> Result<IssuedTicket> {
    auto item = requireItem(db, itemId);
    if (!item) return std::unexpected(item.error());
    if (isContainer(item->kind) || !item->blob) {
      return fail(409, "not_a_file", item->id + " is a container; only files have contents.");
    }
    IssuedTicket issued{randomHex(16), {}};
    auto inserted = db.run("INSERT INTO tickets(id, item, blob, filename, size, expires_at) VALUES(?, ?, ?, ?, ?, ?)",
                           issued.ticket, item->id, *item->blob, item->filename, item->size.value_or(0),
                           nowMicros() + ticketLifetime);
    if (!inserted) return std::unexpected(inserted.error());
    auto body = payload(db, *item);
    if (!body) return std::unexpected(body.error());
    issued.item = std::move(*body);
    return issued;
  });
}

Result<Redeemed> redeemTicket(Store& store, std::string_view ticket) {
  return store.read([&](const Database& db) -> Result<Redeemed> {
    auto found = db.query("SELECT filename, blob, expires_at FROM tickets WHERE id = ?", ticket);
    if (!found) return std::unexpected(found.error());
    auto row = found->step();
    if (!row) return std::unexpected(row.error());
    if (!*row) return fail(403, "ticket_invalid", "This download address is not valid.");
    if (found->integer(2) <= nowMicros()) return fail(403, "ticket_expired", "This download address has expired.");
    return Redeemed{found->text(0), found->text(1)};
  });
}

Result<int64_t> expireTickets(Store& store) {
  return store.write([&](Database& db) -> Result<int64_t> {
    auto expired = db.run("UPDATE tickets SET expires_at = ? WHERE expires_at > ?", nowMicros() - 1, nowMicros());
    if (!expired) return std::unexpected(expired.error());
    return db.changes();
  });
}

}  // namespace ostrel::refsvc
