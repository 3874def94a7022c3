#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tools/reference-service/blob_store.h"
#include "tools/reference-service/store.h"

namespace ostrel::refsvc {

// Renames, moves and deletions of folders and documents.

struct PatchRequest {
  std::string item;
  std::optional<std::string> filename;
  std::optional<std::string> parent;
};
// The item after the change; nothing asked, nothing changed.
Result<nlohmann::json> patchItem(Store& store, const PatchRequest& request);

// A folder must be empty; a document goes with its versions, drafts and saves.
Result<void> deleteItem(Store& store, const BlobStore& blobs, std::string_view id);

}  // namespace ostrel::refsvc
