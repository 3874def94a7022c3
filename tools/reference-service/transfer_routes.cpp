#include <nlohmann/json.hpp>

#include "platform/foundation/url.h"
#include "tools/reference-service/names.h"
#include "tools/reference-service/routes.h"
#include "tools/reference-service/transfers.h"
#include "tools/reference-service/upload_sink.h"

namespace ostrel::refsvc {

namespace {

// Transfer addresses are authorised by their own secret; a client that
// sends its bearer token here would leak it to wherever bytes are stored.
std::optional<Reply> refuseCredentials(const Incoming& incoming) {
  if (!incoming.header("Authorization")) return std::nullopt;
  return Reply::error(400, "credentials_not_allowed", "Transfer addresses take no credentials.");
}

Reply download(Service& service, Incoming& incoming, const Captures& ticket) {
  if (auto refused = refuseCredentials(incoming)) return *refused;
  auto redeemed = redeemTicket(service.store(), ticket[0]);
  if (!redeemed) return Reply::error(redeemed.error());
  auto opened = service.blobs().openForReading(redeemed->blob);
  if (!opened) return Reply::error(404, "not_found", "The bytes of this item are gone.");

  Reply reply;
  reply.status = 200;
  reply.contentType = std::string(documentContentType(redeemed->filename).value_or("application/octet-stream"));
  reply.headers.emplace_back("Content-Disposition",
                             "attachment; filename*=UTF-8''" + percentEncodeQueryComponent(redeemed->filename));
  reply.file = std::make_shared<BlobStore::Opened>(std::move(*opened));
  return reply;
}

Reply upload(Service& service, Incoming& incoming, const Captures& id) {
  if (auto refused = refuseCredentials(incoming)) return *refused;
  auto target = beginUpload(service.store(), id[0], incoming.query("sig").value_or(""));
  if (!target) return Reply::error(target.error());
  auto refuse = [&](int status, std::string code, std::string message) {
    abandonUpload(service.store(), service.blobs(), target->id);
    return Reply::error(status, std::move(code), std::move(message));
  };

  if (incoming.header("X-Ostrel-Upload") != target->id ||
      incoming.header("Content-Type") != std::optional<std::string>("application/octet-stream")) {
    return refuse(400, "bad_upload_headers", "Send the headers the upload slot names.");
  }
  const auto declared = incoming.header("Content-Length");
  if (target->announcedSize && declared && *declared != std::to_string(*target->announcedSize)) {
    return refuse(400, "size_mismatch", "The body is not the size announced for this upload.");
  }
  auto file = service.blobs().createPartialUpload(target->id);
  if (!file) return refuse(500, file.error().code, file.error().message);

  UploadSink sink(std::move(*file));
  const bool complete =
      incoming.streamBody([&sink](const char* data, size_t length) { return sink.append(data, length); });
  auto written = sink.finish();
  if (!complete) return refuse(400, "upload_incomplete", "The body ended before it was complete.");
  if (!written) return refuse(500, written.error().code, written.error().message);
  if (target->announcedSize && static_cast<int64_t>(sink.received()) != *target->announcedSize) {
    return refuse(400, "size_mismatch", "The body is not the size announced for this upload.");
  }
  auto done = completeUpload(service.store(), service.blobs(), target->id, static_cast<int64_t>(sink.received()));
  if (!done) return refuse(500, done.error().code, done.error().message);
  return Reply::json(201, {{"upload_id", target->id}, {"size", sink.received()}});
}

}  // namespace

std::vector<Route> transferRoutes() {
  return {
      {"GET", {"download", "*"}, download},
      {"PUT", {"upload", "*"}, upload},
  };
}

}  // namespace ostrel::refsvc
