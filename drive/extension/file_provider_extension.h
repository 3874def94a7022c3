#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "drive/client/drive_api.h"
#include "drive/extension/host_service_source.h"
#include "drive/extension/recent_containers.h"
#include "drive/extension/token_broker.h"
#include "drive/shared/drive_domain_config.h"
#include "platform/fileprovider/replicated_extension.h"
#include "platform/foundation/bundle.h"

namespace ostrel::drive {

// The extension the system creates once per domain. Without a usable
// configuration it still answers the root item and offers the host service;
// everything that needs the service fails with "cannot synchronise".
class FileProviderExtension final : public fileprovider::ReplicatedExtension {
 public:
  static constexpr const char* openInOstrelAction = "local.ostrel.drive.open-in-ostrel";
  static constexpr const char* continueFromSaveAction = "local.ostrel.drive.continue-from-save";

  // The extension's own bundle supplies the App Group ("OstrelAppGroup")
  // and the bundle identifier the host sees.
  explicit FileProviderExtension(fileprovider::Domain domain);
  FileProviderExtension(fileprovider::Domain domain, Bundle bundle, TokenBroker::Clock clock = TokenBroker::systemClock);
  ~FileProviderExtension() override;

  void invalidate() override {}
  fileprovider::ProgressPtr itemForIdentifier(const fileprovider::ItemIdentifier& identifier,
                                              fileprovider::ItemCompletion completion) override;
  fileprovider::ProgressPtr fetchContents(const fileprovider::ItemIdentifier& identifier,
                                          std::optional<fileprovider::ItemVersion> requestedVersion,
                                          fileprovider::FetchCompletion completion) override;
  fileprovider::ProgressPtr createItem(fileprovider::ItemPtr itemTemplate, uint32_t fields,
                                       std::optional<std::filesystem::path> contents,
                                       fileprovider::WriteCompletion completion) override;
  fileprovider::ProgressPtr modifyItem(fileprovider::ItemPtr item, fileprovider::ItemVersion baseVersion,
                                       uint32_t changedFields, std::optional<std::filesystem::path> contents,
                                       fileprovider::WriteCompletion completion) override;
  fileprovider::ProgressPtr deleteItem(const fileprovider::ItemIdentifier& identifier,
                                       fileprovider::ItemVersion baseVersion,
                                       fileprovider::ErrorCompletion completion) override;
  std::expected<std::shared_ptr<fileprovider::Enumerator>, Error> enumeratorForContainer(
      const fileprovider::ItemIdentifier& container) override;
  fileprovider::ProgressPtr supportedServiceSources(const fileprovider::ItemIdentifier& identifier,
                                                    fileprovider::ServiceSourcesCompletion completion) override;
  fileprovider::ProgressPtr performAction(const std::string& actionIdentifier,
                                          const std::vector<fileprovider::ItemIdentifier>& items,
                                          fileprovider::ErrorCompletion completion) override;

  bool isConfigured() const { return api_ != nullptr; }
  const std::shared_ptr<TokenBroker>& tokens() const { return tokens_; }
  std::vector<fileprovider::ItemIdentifier> recentContainers() const { return recent_->snapshot(); }

 private:
  // The body of a service operation: on success it calls the framework's
  // completion itself; a failure it returns goes to the failure path.
  using Body = std::function<DriveResult<void>(const DriveAPI& api, std::stop_token stop)>;

  std::optional<DriveDomainConfig> loadConfig(const std::string& domainIdentifier) const;
  void perform(const fileprovider::ProgressPtr& progress, Body body, std::function<void(Error)> failure) const;
  std::expected<std::shared_ptr<HostServiceSource>, Error> hostService();
  // Asks the system to re-read the working set and waits for its answer.
  static void signalWorkingSet(const fileprovider::Domain& domain, std::stop_token stop);

  void openInOstrel(const std::string& wire, fileprovider::ProgressPtr progress,
                    fileprovider::ErrorCompletion completion);
  void continueFromSave(const std::string& wire, fileprovider::ProgressPtr progress,
                        fileprovider::ErrorCompletion completion);

  const fileprovider::Domain domain_;
  const Bundle bundle_;
  const std::shared_ptr<TokenBroker> tokens_;
  std::shared_ptr<const DriveAPI> api_;
  const std::shared_ptr<RecentContainers> recent_ = std::make_shared<RecentContainers>();
  std::mutex hostServiceLock_;  // two first requests must not make two sources
  std::shared_ptr<HostServiceSource> hostService_;
};

}  // namespace ostrel::drive
