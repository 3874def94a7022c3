// Creating, modifying and deleting items, and the custom actions.
#include <algorithm>

#include "drive/extension/file_provider_extension.h"
#include "drive/extension/write_support.h"
#include "drive/model/drive_id.h"
#include "drive/model/drive_item.h"
#include "drive/model/drive_log.h"
#include "platform/foundation/uniform_type.h"

namespace ostrel::drive {

using namespace fileprovider;
using WriteSupport::awaitingContents;
using WriteSupport::isEmpty;
using WriteSupport::writeError;

namespace {

// Local metadata (dates, tags, flags, extended attributes): nothing is sent for it.
constexpr uint32_t localMetadataFields = 0x7F8;

Error unsupported() {
  return CocoaError::make(CocoaError::featureUnsupported);
}

// ["rename", "write"]
std::string listLiteral(std::vector<std::string> words) {
  std::sort(words.begin(), words.end());
  std::string out = "[";
  for (size_t i = 0; i < words.size(); ++i) out += (i ? ", \"" : "\"") + words[i] + "\"";
  return out + "]";
}

}  // namespace

ProgressPtr FileProviderExtension::createItem(ItemPtr itemTemplate, uint32_t, std::optional<std::filesystem::path> contents,
                                              WriteCompletion completion) {
  auto progress = Progress::withTotalUnitCount(1);
  const std::string filename = itemTemplate->filename();
  const std::string parent = DriveID::wire(itemTemplate->parentItemIdentifier());
  const std::string type = itemTemplate->contentType().value_or(UTType::data);

  // New items go only into folders of the service, and never as links.
  const bool admitted = DriveWrites::enabled && !DriveExclusions::isExcluded(filename) && parent.starts_with("folder:") &&
                        !UTType::conforms(type, UTType::symbolicLink) && !UTType::conforms(type, UTType::aliasFile);
  if (!admitted) {
    completion(nullptr, 0, false, FileProviderError::make(FileProviderError::excludedFromSync));
    return progress;
  }
  const bool isFolder = UTType::conforms(type, UTType::folder) || UTType::conforms(type, UTType::directory);
  if (!isFolder && isEmpty(contents)) {
    completion(nullptr, 0, false, awaitingContents());
    return progress;
  }

  perform(
      progress,
      [domain = domain_, filename, parent, isFolder, contents, completion, progress](
          const DriveAPI& api, std::stop_token stop) -> DriveResult<void> {
        // Refusals the service gives for things it will never take keep the item local.
        auto keptLocal = [&](const Error& error) {
          auto refusal = DriveRefusal::from(error);
          if (!refusal || (refusal->status != 403 && refusal->code != "unknown_file_type")) return false;
          driveLog().notice("create refused %{public}s; kept local", {refusal->code.value_or("")});
          completion(nullptr, 0, false, FileProviderError::make(FileProviderError::excludedFromSync));
          return true;
        };
        std::optional<std::string> uploadID;
        if (!isFolder) {
          auto uploaded = api.upload(*contents, filename, parent, stop);
          if (!uploaded) return keptLocal(uploaded.error()) ? DriveResult<void>{} : std::unexpected(uploaded.error());
          uploadID = std::move(*uploaded);
        }
        auto created = api.create(parent, filename, uploadID, stop);
        if (!created) return keptLocal(created.error()) ? DriveResult<void>{} : std::unexpected(created.error());
        driveLog().notice("created %{public}s outcome=%{public}s", {created->item.identifier, created->outcome});

        DriveItemPayload payload = std::move(created->item);
        // The service makes a document a container of versions; the system
        // created a file, so it gets the newest version.
        if (!isFolder && payload.kind == DriveItemPayload::Kind::container) {
          auto newest = api.newestVersion(payload.identifier, stop);
          if (!newest) return std::unexpected(newest.error());
          // A document lists its versions first: anything else is not what was created.
          if (newest->kind != DriveItemPayload::Kind::file || newest->parentIdentifier != payload.identifier) {
            driveLog().error("create of %{public}s answered with %{public}s, which holds no new version",
                             {filename, payload.identifier});
            return std::unexpected(FileProviderError::make(FileProviderError::cannotSynchronize));
          }
          payload = std::move(*newest);
        }
        progress->setCompletedUnitCount(1);
        completion(std::make_shared<DriveItem>(std::move(payload)), 0, false, std::nullopt);
        signalWorkingSet(domain, stop);
        return {};
      },
      [completion](Error error) { completion(nullptr, 0, false, writeError(error)); });
  return progress;
}

ProgressPtr FileProviderExtension::modifyItem(ItemPtr item, ItemVersion baseVersion, uint32_t changedFields,
                                              std::optional<std::filesystem::path> contents,
                                              WriteCompletion completion) {
  auto progress = Progress::withTotalUnitCount(1);
  if (item->itemIdentifier() == rootContainerItemIdentifier) {
    completion(std::make_shared<RootItem>(domain_.displayName), 0, false, std::nullopt);
    return progress;
  }
  const std::string wire = DriveID::wire(item->itemIdentifier());

  // Only local metadata changed: answer with the service's state of the item.
  if ((changedFields & ~localMetadataFields) == 0) {
    perform(
        progress,
        [wire, completion](const DriveAPI& api, std::stop_token stop) -> DriveResult<void> {
          auto payload = api.item(wire, stop);
          if (!payload) return std::unexpected(payload.error());
          completion(std::make_shared<DriveItem>(std::move(*payload)), 0, false, std::nullopt);
          return {};
        },
        [completion](Error error) { completion(nullptr, 0, false, std::move(error)); });
    return progress;
  }

  const bool write = changedFields & contentsField;
  const bool rename = changedFields & filenameField;
  const bool reparent = changedFields & parentItemIdentifierField;
  std::vector<std::string> wanted;
  if (write) wanted.push_back("write");
  if (rename) wanted.push_back("rename");
  if (reparent) wanted.push_back("reparent");
  const OperationSet& allowed = DriveID::writes(wire);
  const bool accepted = DriveWrites::enabled && !wanted.empty() &&
                        std::all_of(wanted.begin(), wanted.end(), [&](const auto& w) { return allowed.contains(w); });
  if (!accepted) {
    driveLog().fault("modifyItem %{public}s can't take %{public}s", {wire, listLiteral(wanted)});
    completion(nullptr, 0, false, unsupported());
    return progress;
  }
  if (write && isEmpty(contents)) {
    completion(nullptr, 0, false, awaitingContents());
    return progress;
  }

  const std::string filename = item->filename();
  const std::string parent = DriveID::wire(item->parentItemIdentifier());
  const std::optional<std::string> base = DriveID::versionID(baseVersion.contentVersion);
  perform(
      progress,
      [=](const DriveAPI& api, std::stop_token stop) -> DriveResult<void> {
        std::optional<DriveItemPayload> last;
        // New bytes never replace a version: they become a draft against the
        // version the edit started from.
        if (write) {
          auto uploadID = api.upload(*contents, filename, wire, stop);
          if (!uploadID) return std::unexpected(uploadID.error());
          auto draft = api.saveDraft(wire, *uploadID, base, stop);
          if (!draft) return std::unexpected(draft.error());
          driveLog().notice("draft saved %{public}s base=%{public}s", {wire, base.value_or("none")});
          last = std::move(*draft);
        }
        if (rename || reparent) {
          auto patched = api.patch(wire, rename ? std::optional(filename) : std::nullopt,
                                   reparent ? std::optional(parent) : std::nullopt, stop);
          if (!patched) return std::unexpected(patched.error());
          last = std::move(*patched);
        }
        progress->setCompletedUnitCount(1);
        completion(std::make_shared<DriveItem>(std::move(*last)), 0, false, std::nullopt);
        return {};
      },
      [completion](Error error) { completion(nullptr, 0, false, writeError(error)); });
  return progress;
}

ProgressPtr FileProviderExtension::deleteItem(const ItemIdentifier& identifier, ItemVersion, ErrorCompletion completion) {
  auto progress = Progress::withTotalUnitCount(1);
  const std::string wire = DriveID::wire(identifier);
  if (!DriveWrites::enabled || !DriveID::writes(wire).contains("delete")) {
    completion(FileProviderError::make(FileProviderError::deletionRejected));
    return progress;
  }
  perform(
      progress,
      [wire, completion](const DriveAPI& api, std::stop_token stop) -> DriveResult<void> {
        auto deleted = api.deleteItem(wire, stop);
        if (deleted) {
          completion(std::nullopt);
          return {};
        }
        auto refusal = DriveRefusal::from(deleted.error());
        if (refusal && (refusal->status == 409 || refusal->status == 403)) {
          driveLog().notice("delete refused %{public}s", {refusal->code.value_or("")});
          completion(FileProviderError::make(FileProviderError::deletionRejected));
          return {};
        }
        return std::unexpected(deleted.error());
      },
      [completion](Error error) { completion(writeError(error)); });
  return progress;
}

ProgressPtr FileProviderExtension::performAction(const std::string& actionIdentifier,
                                                 const std::vector<ItemIdentifier>& items,
                                                 ErrorCompletion completion) {
  auto progress = Progress::withTotalUnitCount(std::max<int64_t>(static_cast<int64_t>(items.size()), 1));
  std::vector<std::string> wires;
  for (const auto& item : items) wires.push_back(DriveID::wire(item));
  if (actionIdentifier == openInOstrelAction && wires.size() == 1) {
    openInOstrel(wires.front(), progress, std::move(completion));
  } else if (actionIdentifier == continueFromSaveAction && wires.size() == 1) {
    continueFromSave(wires.front(), progress, std::move(completion));
  } else {
    completion(unsupported());
  }
  return progress;
}

void FileProviderExtension::openInOstrel(const std::string& wire, ProgressPtr progress, ErrorCompletion completion) {
  perform(
      progress,
      [wire, progress, completion, tokens = tokens_](const DriveAPI& api, std::stop_token stop) -> DriveResult<void> {
        auto page = api.webUrl(wire, stop);
        if (!page) return std::unexpected(page.error());
        tokens->openURL(page->url);
        progress->setCompletedUnitCount(progress->totalUnitCount());
        completion(std::nullopt);
        return {};
      },
      [completion](Error error) { completion(std::move(error)); });
}

void FileProviderExtension::continueFromSave(const std::string& wire, ProgressPtr progress,
                                             ErrorCompletion completion) {
  perform(
      progress,
      [domain = domain_, wire, progress, completion](const DriveAPI& api, std::stop_token stop) -> DriveResult<void> {
        auto continued = api.continueFromSave(wire, stop);
        if (!continued) return std::unexpected(continued.error());
        signalWorkingSet(domain, stop);
        progress->setCompletedUnitCount(progress->totalUnitCount());
        completion(std::nullopt);
        return {};
      },
      [completion](Error error) { completion(std::move(error)); });
}

}  // namespace ostrel::drive
