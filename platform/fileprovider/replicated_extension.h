#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileprovider/domain.h"
#include "platform/fileprovider/item.h"
#include "platform/fileprovider/observers.h"
#include "platform/fileprovider/progress.h"
#include "platform/foundation/error.h"

namespace ostrel::xpc {
struct ListenerEndpoint;
}

namespace ostrel::fileprovider {

// NSFileProviderServiceSource: a named service the extension offers on its
// items; a host reaches it through the listener endpoint.
class ServiceSource {
 public:
  virtual ~ServiceSource() = default;
  virtual std::string serviceName() const = 0;
  virtual std::expected<xpc::ListenerEndpoint, Error> makeListenerEndpoint() = 0;
};

using ItemCompletion = std::function<void(ItemPtr item, std::optional<Error> error)>;
using FetchCompletion =
    std::function<void(std::optional<std::filesystem::path> contents, ItemPtr item, std::optional<Error> error)>;
// (item, fields still to be synchronised, whether the system should fetch the contents, error)
using WriteCompletion =
    std::function<void(ItemPtr item, uint32_t stillPendingFields, bool shouldFetchContent, std::optional<Error> error)>;
using ErrorCompletion = std::function<void(std::optional<Error> error)>;
using ServiceSourcesCompletion =
    std::function<void(std::vector<std::shared_ptr<ServiceSource>> sources, std::optional<Error> error)>;

// The extension the system loads once per domain. Every completion is called
// exactly once, from any thread; every call returns at once.
class ReplicatedExtension {
 public:
  virtual ~ReplicatedExtension() = default;

  virtual void invalidate() = 0;
  virtual ProgressPtr itemForIdentifier(const ItemIdentifier& identifier, ItemCompletion completion) = 0;
  virtual ProgressPtr fetchContents(const ItemIdentifier& identifier, std::optional<ItemVersion> requestedVersion,
                                    FetchCompletion completion) = 0;
  // `itemTemplate` carries the new item's name, parent and (maybe) type.
  virtual ProgressPtr createItem(ItemPtr itemTemplate, uint32_t fields,
                                 std::optional<std::filesystem::path> contents, WriteCompletion completion) = 0;
  virtual ProgressPtr modifyItem(ItemPtr item, ItemVersion baseVersion, uint32_t changedFields,
                                 std::optional<std::filesystem::path> contents, WriteCompletion completion) = 0;
  virtual ProgressPtr deleteItem(const ItemIdentifier& identifier, ItemVersion baseVersion,
                                 ErrorCompletion completion) = 0;

  virtual std::expected<std::shared_ptr<Enumerator>, Error> enumeratorForContainer(const ItemIdentifier& container) = 0;
  virtual ProgressPtr supportedServiceSources(const ItemIdentifier& identifier,
                                              ServiceSourcesCompletion completion) = 0;
  virtual ProgressPtr performAction(const std::string& actionIdentifier, const std::vector<ItemIdentifier>& items,
                                    ErrorCompletion completion) = 0;
};

// The one symbol an extension module exports: it makes the extension for a
// domain (the module's principal class). The system side looks it up by name.
inline constexpr const char* extensionFactorySymbol = "OstrelFileProviderCreateExtension";
using ExtensionFactory = ReplicatedExtension* (*)(const Domain* domain);

}  // namespace ostrel::fileprovider

// Exports the factory of a module's principal class, which must be
// constructible from a Domain.
#define OSTREL_FILE_PROVIDER_PRINCIPAL_CLASS(Class)                                                     \
  extern "C" __attribute__((visibility("default"))) ::ostrel::fileprovider::ReplicatedExtension*        \
  OstrelFileProviderCreateExtension(const ::ostrel::fileprovider::Domain* domain) {                     \
    return new Class(*domain);                                                                          \
  }
