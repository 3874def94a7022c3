#include <nlohmann/json.hpp>

#include "platform/foundation/url.h"
#include "tools/reference-service/change_log.h"
#include "tools/reference-service/documents.h"
#include "tools/reference-service/edits.h"
#include "tools/reference-service/items.h"
#include "tools/reference-service/request_fields.h"
#include "tools/reference-service/routes.h"
#include "tools/reference-service/transfers.h"

namespace ostrel::refsvc {

namespace {

using nlohmann::json;

Reply answer(const Result<json>& result, int status = 200) {
  return result ? Reply::json(status, *result) : Reply::error(result.error());
}

Reply getItem(Service& service, Incoming&, const Captures& id) {
  return answer(service.store().read([&](const Database& db) -> Result<json> {
    auto item = requireItem(db, id[0]);
    if (!item) return std::unexpected(item.error());
    return payload(db, *item);
  }));
}

Reply listContainer(Service& service, Incoming& incoming, const Captures& id) {
  auto limit = pageLimit(incoming.query("limit"));
  if (!limit) return Reply::error(limit.error());
  return answer(service.store().read([&](const Database& db) -> Result<json> {
    auto container = requireItem(db, id[0]);
    if (!container) return std::unexpected(container.error());
    if (!isContainer(container->kind)) return notFound(id[0]);
    auto page = listChildren(db, *container, *limit, incoming.query("page"));
    if (!page) return std::unexpected(page.error());
    json items = json::array();
    for (const auto& child : page->items) {
      auto body = payload(db, child);
      if (!body) return std::unexpected(body.error());
      items.push_back(std::move(*body));
    }
    return json{{"items", std::move(items)},
                {"next_page", page->nextCursor ? json(*page->nextCursor) : json(nullptr)}};
  }));
}

Reply changes(Service& service, Incoming& incoming, const Captures&) {
  auto limit = pageLimit(incoming.query("limit"));
  if (!limit) return Reply::error(limit.error());
  const auto anchor = incoming.query("anchor");
  if (!anchor) return Reply::error(400, "invalid_request", "\"anchor\" is required.");
  return answer(service.store().read([&](const Database& db) -> Result<json> {
    auto batch = changesSince(db, *anchor, *limit);
    if (!batch) return std::unexpected(batch.error());
    return json{{"updated", std::move(batch->updated)},
                {"deleted", std::move(batch->deleted)},
                {"anchor", std::move(batch->anchor)},
                {"more", batch->more}};
  }));
}

Reply changesHead(Service& service, Incoming&, const Captures&) {
  return answer(service.store().read([](const Database& db) -> Result<json> {
    auto anchor = headAnchor(db);
    if (!anchor) return std::unexpected(anchor.error());
    return json{{"anchor", std::move(*anchor)}};
  }));
}

Reply contentUrl(Service& service, Incoming&, const Captures& id) {
  auto issued = issueTicket(service.store(), id[0]);
  if (!issued) return Reply::error(issued.error());
  return Reply::json(200, {{"url", service.base() + "/transfers/download/" + issued->ticket}, {"item", issued->item}});
}

Reply requestUpload(Service& service, Incoming& incoming, const Captures&) {
  auto body = incoming.jsonObject();
  if (!body) return Reply::error(body.error());
  auto item = requiredText(*body, "item");
  if (!item) return Reply::error(item.error());
  auto filename = requiredText(*body, "filename");
  if (!filename) return Reply::error(filename.error());
  auto size = optionalInteger(*body, "size");
  if (!size) return Reply::error(size.error());

  auto grant = grantUpload(service.store(), {*item, *filename, *size});
  if (!grant) return Reply::error(grant.error());
  return Reply::json(201, {{"upload_id", grant->id},
                           {"url", service.base() + "/transfers/upload/" + grant->id + "?sig=" + grant->signature},
                           {"headers", {{"Content-Type", "application/octet-stream"}, {"X-Ostrel-Upload", grant->id}}},
                           {"expires_at", formatTimestamp(grant->expiresAt)}});
}

Reply create(Service& service, Incoming& incoming, const Captures&) {
  auto body = incoming.jsonObject();
  if (!body) return Reply::error(body.error());
  auto parent = requiredText(*body, "parent");
  if (!parent) return Reply::error(parent.error());
  auto filename = requiredText(*body, "filename");
  if (!filename) return Reply::error(filename.error());
  auto uploadId = optionalText(*body, "upload_id");
  if (!uploadId) return Reply::error(uploadId.error());
  auto kind = optionalText(*body, "kind");
  if (!kind) return Reply::error(kind.error());
  // A folder says so; a document names the upload of its bytes.
  if (*uploadId ? (*kind && **kind != "file") : *kind != "container") {
    return Reply::error(422, "invalid_request", "A new item needs either \"upload_id\" or \"kind\": \"container\".");
  }

  auto created = createItem(service.store(), service.blobs(), {*parent, *filename, *uploadId});
  if (!created) return Reply::error(created.error());
  return Reply::json(created->outcome == "created" ? 201 : 200,
                     {{"item", std::move(created->item)}, {"outcome", created->outcome}});
}

Reply draft(Service& service, Incoming& incoming, const Captures& id) {
  auto body = incoming.jsonObject();
  if (!body) return Reply::error(body.error());
  auto uploadId = requiredText(*body, "upload_id");
  if (!uploadId) return Reply::error(uploadId.error());
  auto base = optionalText(*body, "base_version_id");
  if (!base) return Reply::error(base.error());
  return answer(saveDraft(service.store(), service.blobs(), {id[0], *uploadId, *base}));
}

Reply continueSave(Service& service, Incoming& incoming, const Captures& id) {
  if (auto body = incoming.jsonObject(); !body) return Reply::error(body.error());
  return answer(continueFromSave(service.store(), service.blobs(), id[0]));
}

Reply webUrl(Service& service, Incoming& incoming, const Captures& id) {
  if (auto body = incoming.jsonObject(); !body) return Reply::error(body.error());
  auto exists = service.store().read([&](const Database& db) { return requireItem(db, id[0]); });
  if (!exists) return Reply::error(exists.error());
  return Reply::json(200, {{"url", service.base() + "/app/items/" + percentEncodePathSegment(id[0])}});
}

Reply patch(Service& service, Incoming& incoming, const Captures& id) {
  auto body = incoming.jsonObject();
  if (!body) return Reply::error(body.error());
  auto filename = optionalText(*body, "filename");
  if (!filename) return Reply::error(filename.error());
  auto parent = optionalText(*body, "parent");
  if (!parent) return Reply::error(parent.error());
  return answer(patchItem(service.store(), {id[0], *filename, *parent}));
}

Reply remove(Service& service, Incoming&, const Captures& id) {
  auto deleted = deleteItem(service.store(), service.blobs(), id[0]);
  return deleted ? Reply::noContent() : Reply::error(deleted.error());
}

}  // namespace

std::vector<Route> driveRoutes() {
  return {
      {"GET", {"items", "*"}, getItem},
      {"PATCH", {"items", "*"}, patch},
      {"DELETE", {"items", "*"}, remove},
      {"POST", {"items"}, create},
      {"GET", {"containers", "*", "items"}, listContainer},
      {"GET", {"changes"}, changes},
      {"GET", {"changes", "head"}, changesHead},
      {"POST", {"items", "*", "content-url"}, contentUrl},
      {"PUT", {"items", "*", "draft"}, draft},
      {"POST", {"items", "*", "continue"}, continueSave},
      {"POST", {"items", "*", "web-url"}, webUrl},
      {"POST", {"uploads"}, requestUpload},
  };
}

}  // namespace ostrel::refsvc
