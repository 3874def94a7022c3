#include "tools/reference-service/documents.h"

#include "tools/reference-service/change_log.h"
#include "tools/reference-service/ids.h"
#include "tools/reference-service/items.h"
#include "tools/reference-service/names.h"
#include "tools/reference-service/transfers.h"

namespace ostrel::refsvc {

namespace {

Result<ItemRow> writableFolder(const Database& db, std::string_view id) {
  auto parent = requireItem(db, id);
  if (!parent) return parent;
  if (parent->kind != Kind::folder || !partnerMayWrite(*parent)) {
    return forbidden("New items can only be made in folders the partner may write to.");
  }
  return parent;
}

// Read back after the write, so the answer shows the stored state.
Result<nlohmann::json> currentPayload(const Database& db, std::string_view id) {
  auto item = requireItem(db, id);
  if (!item) return std::unexpected(item.error());
  return payload(db, *item);
}

Result<std::string> addVersion(Database& db, const ItemRow& document, const TakenUpload& bytes, Micros now) {
  auto number = nextOrdinal(db, document.id, Kind::version);
  if (!number) return std::unexpected(number.error());
  ItemRow version{.id = std::string(prefixOf(Kind::version)) + newUuid(),
                  .kind = Kind::version,
                  .parent = document.id,
                  .matter = document.matter,
                  .filename = versionFilename(document.filename, *number),
                  .ordinal = *number,
                  .blob = bytes.blob,
                  .size = bytes.size,
                  .createdAt = now,
                  .modifiedAt = now};
  if (auto inserted = insertItem(db, version); !inserted) return std::unexpected(inserted.error());
  return version.id;
}

// The document's "Drafts" container, made with the first draft.
Result<std::string> draftsContainer(Database& db, const ItemRow& document, Micros now, Touched& touched) {
  auto existing = db.text("SELECT id FROM items WHERE parent = ? AND kind = 'dft'", document.id);
  if (!existing) return std::unexpected(existing.error());
  if (*existing) {
    if (auto bumped = bumpContent(db, **existing, now); !bumped) return std::unexpected(bumped.error());
    touched.add(**existing);
    return **existing;
  }
  auto id = newIdentifier(db, Kind::drafts);
  if (!id) return id;
  ItemRow drafts{.id = *id,
                 .kind = Kind::drafts,
                 .parent = document.id,
                 .matter = document.matter,
                 .filename = "Drafts",
                 .createdAt = now,
                 .modifiedAt = now};
  if (auto inserted = insertItem(db, drafts); !inserted) return std::unexpected(inserted.error());
  if (auto bumped = bumpContent(db, document.id, now); !bumped) return std::unexpected(bumped.error());
  touched.add(*id);
  touched.add(document.id);
  return id;
}

Result<std::string> addDraft(Database& db, const ItemRow& document, const TakenUpload& bytes,
                             const std::optional<std::string>& base, Micros now, Touched& touched) {
  auto container = draftsContainer(db, document, now, touched);
  if (!container) return container;
  auto number = nextOrdinal(db, *container, Kind::draft);
  if (!number) return std::unexpected(number.error());
  auto id = newIdentifier(db, Kind::draft);
  if (!id) return id;
  ItemRow draft{.id = *id,
                .kind = Kind::draft,
                .parent = *container,
                .matter = document.matter,
                .filename = draftFilename(document.filename, *number, bytes.filename),
                .ordinal = *number,
                .blob = bytes.blob,
                .size = bytes.size,
                .baseVersion = base,
                .createdAt = now,
                .modifiedAt = now};
  if (auto inserted = insertItem(db, draft); !inserted) return std::unexpected(inserted.error());
  touched.add(*id);
  return id;
}

// A base version given by the drive must be a version of this very document.
Result<std::string> checkedBase(const Database& db, const ItemRow& document, const std::string& base) {
  auto unknown = fail(409, "unknown_base_version", "No version " + base + " of " + document.id + ".");
  if (!isUuid(base)) return unknown;
  auto version = findItem(db, std::string(prefixOf(Kind::version)) + lowerASCII(base));
  if (!version) return std::unexpected(version.error());
  if (!*version || (*version)->parent != document.id) return unknown;
  return lowerASCII(base);
}

Result<std::optional<std::string>> newestVersionUuid(const Database& db, std::string_view document) {
  auto newest = db.text("SELECT id FROM items WHERE parent = ? AND kind = 'ver' ORDER BY ordinal DESC LIMIT 1",
                        document);
  if (!newest) return std::unexpected(newest.error());
  if (!*newest) return std::optional<std::string>();
  return (*newest)->substr(prefixOf(Kind::version).size());
}

Result<Created> createFolder(Database& db, const ItemRow& parent, const std::string& filename, Micros now) {
  auto sibling = childNamed(db, parent.id, filename);
  if (!sibling) return std::unexpected(sibling.error());
  if (*sibling) return fail(409, "name_conflict", "The folder already holds an item named " + filename + ".");
  auto id = newIdentifier(db, Kind::folder);
  if (!id) return std::unexpected(id.error());
  ItemRow folder{.id = *id,
                 .kind = Kind::folder,
                 .parent = parent.id,
                 .matter = parent.matter,
                 .filename = filename,
                 .createdAt = now,
                 .modifiedAt = now};
  if (auto inserted = insertItem(db, folder); !inserted) return std::unexpected(inserted.error());
  if (auto bumped = bumpContent(db, parent.id, now); !bumped) return std::unexpected(bumped.error());
  Touched touched;
  touched.add(*id);
  touched.add(parent.id);
  if (auto recorded = recordChanges(db, touched, now); !recorded) return std::unexpected(recorded.error());
  auto body = currentPayload(db, *id);
  if (!body) return std::unexpected(body.error());
  return Created{std::move(*body), "created"};
}

Result<Created> createDocument(Database& db, const BlobStore& blobs, const ItemRow& parent,
                               const std::string& filename, const std::string& uploadId, Micros now) {
  if (!documentContentType(filename)) return fail(422, "unknown_file_type", "Ostrel does not keep files of this type.");
  auto sibling = childNamed(db, parent.id, filename);
  if (!sibling) return std::unexpected(sibling.error());
  // Saving a file under a document's name adds a version to that document.
  if (*sibling && (*sibling)->kind != Kind::document) {
    return fail(409, "name_conflict", "The folder already holds a folder named " + filename + ".");
  }
  auto bytes = takeUpload(db, blobs, uploadId, parent.id);
  if (!bytes) return std::unexpected(bytes.error());

  Touched touched;
  ItemRow document;
  std::string outcome;
  if (*sibling) {
    document = std::move(**sibling);
    outcome = "new_version";
  } else {
    auto id = newIdentifier(db, Kind::document);
    if (!id) return std::unexpected(id.error());
    document = ItemRow{.id = *id,
                       .kind = Kind::document,
                       .parent = parent.id,
                       .matter = parent.matter,
                       .filename = filename,
                       .createdAt = now,
                       .modifiedAt = now};
    if (auto inserted = insertItem(db, document); !inserted) return std::unexpected(inserted.error());
    if (auto bumped = bumpContent(db, parent.id, now); !bumped) return std::unexpected(bumped.error());
    touched.add(parent.id);
    outcome = "created";
  }
  auto version = addVersion(db, document, *bytes, now);
  if (!version) return std::unexpected(version.error());
  if (auto bumped = bumpContent(db, document.id, now); !bumped) return std::unexpected(bumped.error());
  touched.add(document.id);
  touched.add(*version);
  if (auto recorded = recordChanges(db, touched, now); !recorded) return std::unexpected(recorded.error());
  auto body = currentPayload(db, document.id);
  if (!body) return std::unexpected(body.error());
  return Created{std::move(*body), std::move(outcome)};
}

}  // namespace

Result<Created> createItem(Store& store, const BlobStore& blobs, const CreateRequest& request) {
  return store.write([&](Database& db) -> Result<Created> {
    auto parent = writableFolder(db, request.parent);
    if (!parent) return std::unexpected(parent.error());
    if (!isValidName(request.filename)) return fail(422, "invalid_name", "Not a usable name.");
    const Micros now = nowMicros();
    if (!request.uploadId) return createFolder(db, *parent, request.filename, now);
    return createDocument(db, blobs, *parent, request.filename, *request.uploadId, now);
  });
}

Result<nlohmann::json> saveDraft(Store& store, const BlobStore& blobs, const DraftRequest& request) {
  std::optional<std::string> replacedBlob;
  auto saved = store.write([&](Database& db) -> Result<nlohmann::json> {
    auto item = requireItem(db, request.item);
    if (!item) return std::unexpected(item.error());
    if ((item->kind != Kind::version && item->kind != Kind::draft) || !partnerMayWrite(*item)) {
      return forbidden("Drafts are saved on versions and drafts the partner may write to.");
    }
    // A version's parent is its document; a draft's parent is the drafts container inside it.
    std::string documentId = item->parent;
    if (item->kind == Kind::draft) {
      auto container = requireItem(db, item->parent);
      if (!container) return std::unexpected(container.error());
      documentId = container->parent;
    }
    auto document = requireItem(db, documentId);
    if (!document) return std::unexpected(document.error());

    std::optional<std::string> base;
    if (request.baseVersionId) {
      auto checked = checkedBase(db, *document, *request.baseVersionId);
      if (!checked) return std::unexpected(checked.error());
      base = std::move(*checked);
    }
    auto bytes = takeUpload(db, blobs, request.uploadId, item->id);
    if (!bytes) return std::unexpected(bytes.error());

    const Micros now = nowMicros();
    Touched touched;
    std::string draftId = item->id;
    if (item->kind == Kind::version) {
      if (!base) base = item->id.substr(prefixOf(Kind::version).size());
      auto added = addDraft(db, *document, *bytes, base, now, touched);
      if (!added) return std::unexpected(added.error());
      draftId = *added;
    } else {
      replacedBlob = item->blob;
      auto revised = db.run(
          "UPDATE items SET blob = ?, size = ?, base_version = COALESCE(?, base_version), "
          "content_rev = content_rev + 1, modified_at = ? WHERE id = ?",
          bytes->blob, bytes->size, base, now, item->id);
      if (!revised) return std::unexpected(revised.error());
      touched.add(item->id);
    }
    if (auto recorded = recordChanges(db, touched, now); !recorded) return std::unexpected(recorded.error());
    return currentPayload(db, draftId);
  });
  // The old revision's bytes go once the new one is committed; a download
  // already under way keeps its open file.
  if (saved && replacedBlob) blobs.remove(*replacedBlob);
  return saved;
}

Result<nlohmann::json> continueFromSave(Store& store, const BlobStore& blobs, std::string_view saveId) {
  std::optional<std::string> copiedBlob;
  auto continued = store.write([&](Database& db) -> Result<nlohmann::json> {
    auto save = requireItem(db, saveId);
    if (!save) return std::unexpected(save.error());
    if (save->kind != Kind::save || !partnerMayWrite(*save) || !save->blob) {
      return forbidden("Only saves in matters the partner may write to can be continued.");
    }
    auto container = requireItem(db, save->parent);
    if (!container) return std::unexpected(container.error());
    auto document = requireItem(db, container->parent);
    if (!document) return std::unexpected(document.error());
    auto base = newestVersionUuid(db, document->id);
    if (!base) return std::unexpected(base.error());
    auto blob = blobs.duplicate(*save->blob);
    if (!blob) return std::unexpected(blob.error());
    copiedBlob = *blob;

    const Micros now = nowMicros();
    Touched touched;
    auto draft = addDraft(db, *document, {*blob, save->size.value_or(0), save->filename}, *base, now, touched);
    if (!draft) return std::unexpected(draft.error());
    if (auto recorded = recordChanges(db, touched, now); !recorded) return std::unexpected(recorded.error());
    return currentPayload(db, *draft);
  });
  if (!continued && copiedBlob) blobs.remove(*copiedBlob);
  return continued;
}

}  // namespace ostrel::refsvc
