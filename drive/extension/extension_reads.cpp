// Item lookup and content fetch.
#include "drive/extension/file_provider_extension.h"
#include "drive/model/drive_id.h"
#include "drive/model/drive_item.h"
#include "platform/fileprovider/manager.h"

namespace ostrel::drive {

using namespace fileprovider;

ProgressPtr FileProviderExtension::itemForIdentifier(const ItemIdentifier& identifier, ItemCompletion completion) {
  auto progress = Progress::withTotalUnitCount(1);
  // The root is answered without the service, configured or not.
  if (identifier == rootContainerItemIdentifier) {
    completion(std::make_shared<RootItem>(domain_.displayName), std::nullopt);
    return progress;
  }
  const std::string wire = DriveID::wire(identifier);
  if (!DriveID::isKnown(wire)) {
    completion(nullptr, FileProviderError::nonExistentItem(identifier.rawValue));
    return progress;
  }
  perform(
      progress,
      [wire, completion](const DriveAPI& api, std::stop_token stop) -> DriveResult<void> {
        auto payload = api.item(wire, stop);
        if (!payload) return std::unexpected(payload.error());
        completion(std::make_shared<DriveItem>(std::move(*payload)), std::nullopt);
        return {};
      },
      [completion](Error error) { completion(nullptr, std::move(error)); });
  return progress;
}

ProgressPtr FileProviderExtension::fetchContents(const ItemIdentifier& identifier, std::optional<ItemVersion>,
                                                 FetchCompletion completion) {
  auto progress = Progress::withTotalUnitCount(1);
  const std::string wire = DriveID::wire(identifier);
  // Containers have no contents.
  if (DriveID::isContainer(wire)) {
    completion(std::nullopt, nullptr, FileProviderError::nonExistentItem(identifier.rawValue));
    return progress;
  }
  perform(
      progress,
      [wire, completion, progress, domain = domain_](const DriveAPI& api, std::stop_token stop) -> DriveResult<void> {
        auto content = api.content(wire, stop);
        if (!content) return std::unexpected(content.error());
        auto manager = managerForDomain(domain);
        if (!manager) return std::unexpected(FileProviderError::make(FileProviderError::cannotSynchronize));
        auto directory = manager->temporaryDirectory();
        if (!directory) return std::unexpected(directory.error());
        // Counted in bytes, and the file they go to is said: the system can
        // read what arrived before the whole file is here.
        progress->setTotalUnitCount(content->item.size.value_or(-1));
        auto file = api.download(content->url, *directory, stop, [&](const std::filesystem::path& partial, uint64_t bytes) {
          progress->setFileURL(partial);
          progress->setCompletedUnitCount(static_cast<int64_t>(bytes));
        });
        if (!file) return std::unexpected(file.error());
        std::error_code sizeError;
        if (const auto size = std::filesystem::file_size(*file, sizeError); !sizeError) {
          progress->setTotalUnitCount(static_cast<int64_t>(size));
          progress->setCompletedUnitCount(static_cast<int64_t>(size));
        }
        // The item of the content answer describes exactly these bytes.
        completion(*file, std::make_shared<DriveItem>(std::move(content->item)), std::nullopt);
        return {};
      },
      [completion](Error error) { completion(std::nullopt, nullptr, std::move(error)); });
  return progress;
}

}  // namespace ostrel::drive
