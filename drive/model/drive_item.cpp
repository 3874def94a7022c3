#include "drive/model/drive_item.h"

#include <array>
#include <utility>

#include "drive/model/drive_id.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/uniform_type.h"

namespace ostrel::drive {

namespace {

using namespace fileprovider;

constexpr std::array<std::pair<std::string_view, uint32_t>, 5> capabilityWords = {{
    {"write", allowsWriting},
    {"rename", allowsRenaming},
    {"reparent", allowsReparenting},
    {"delete", allowsDeleting},
    {"add_children", allowsWriting},
}};

uint32_t capabilityFor(std::string_view word) {
  for (const auto& [name, bit] : capabilityWords) {
    if (name == word) return bit;
  }
  return 0;
}

void addAttribute(ExtendedAttributes& attributes, const char* name, const std::optional<std::string>& text) {
  if (!text || text->empty()) return;
  if (auto encoded = binaryPropertyListOfString(*text)) attributes.emplace(name, std::move(*encoded));
}

}  // namespace

ItemIdentifier DriveItem::itemIdentifier() const {
  return DriveID::item(payload_.identifier);
}

ItemIdentifier DriveItem::parentItemIdentifier() const {
  return DriveID::item(payload_.parentIdentifier);
}

std::optional<std::string> DriveItem::contentType() const {
  if (payload_.kind == DriveItemPayload::Kind::container) return std::string(UTType::folder);
  auto declared = UTType::forFilenameExtension(pathExtension(payload_.filename));
  if (declared && UTType::conforms(*declared, UTType::data)) return declared;
  return std::string(UTType::data);
}

uint32_t DriveItem::capabilities() const {
  if (DriveID::isAlwaysReadOnly(payload_.identifier)) return allowsReading;
  // The identifier's prefix caps what the drive will ever attempt; the
  // service's list narrows it per item and per user. Both must agree.
  const OperationSet& allowed = DriveID::writes(payload_.identifier);
  uint32_t capabilities = allowsReading;
  for (const auto& word : payload_.capabilities) {
    if (allowed.contains(word)) capabilities |= capabilityFor(word);
  }
  return capabilities;
}

std::optional<ItemVersion> DriveItem::itemVersion() const {
  return ItemVersion{payload_.contentVersion, payload_.metadataVersion};
}

UserInfo DriveItem::userInfo() const {
  const std::string_view id = payload_.identifier;
  const bool isFile = payload_.kind == DriveItemPayload::Kind::file;
  const bool openable = (isFile && (id.starts_with("ver:") || id.starts_with("dfl:"))) || id.starts_with("vf:") ||
                        id.starts_with("dft:") || id.starts_with("doc:");
  const bool continuable = isFile && id.starts_with("save:");
  return {{"openable", openable}, {"continuable", continuable}};
}

ExtendedAttributes DriveItem::extendedAttributes() const {
  ExtendedAttributes attributes;
  addAttribute(attributes, "com.apple.metadata:kMDItemVersion", payload_.versionLabel);
  addAttribute(attributes, "com.apple.metadata:kMDItemFinderComment", payload_.comment);
  return attributes;
}

ItemIdentifier RootItem::itemIdentifier() const {
  return rootContainerItemIdentifier;
}

ItemIdentifier RootItem::parentItemIdentifier() const {
  return rootContainerItemIdentifier;
}

std::optional<std::string> RootItem::contentType() const {
  return std::string(UTType::folder);
}

}  // namespace ostrel::drive
