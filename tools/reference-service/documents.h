#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tools/reference-service/blob_store.h"
#include "tools/reference-service/store.h"

namespace ostrel::refsvc {

// Writes that make documents, versions, folders and drafts.

struct CreateRequest {
  std::string parent;
  std::string filename;
  std::optional<std::string> uploadId;  // none: a folder
};
struct Created {
  nlohmann::json item;
  std::string outcome;  // "created" or "new_version"
};
// A new document (or a new version of the same-named document) from an
// upload, or a new folder, inside a folder the partner may write to.
Result<Created> createItem(Store& store, const BlobStore& blobs, const CreateRequest& request);

struct DraftRequest {
  std::string item;  // a version or a draft
  std::string uploadId;
  std::optional<std::string> baseVersionId;
};
// On a version: a new draft of its document. On a draft: a new revision of it.
Result<nlohmann::json> saveDraft(Store& store, const BlobStore& blobs, const DraftRequest& request);

// A new draft holding the bytes of a save, based on the document's newest version.
Result<nlohmann::json> continueFromSave(Store& store, const BlobStore& blobs, std::string_view saveId);

}  // namespace ostrel::refsvc
