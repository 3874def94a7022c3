#include "drive/extension/file_provider_extension.h"

#include <condition_variable>
#include <fstream>
#include <sstream>

#include "drive/extension/drive_enumerator.h"
#include "drive/model/drive_id.h"
#include "drive/model/drive_log.h"
#include "platform/fileprovider/manager.h"
#include "platform/foundation/task.h"

namespace ostrel::drive {

using namespace fileprovider;

FileProviderExtension::FileProviderExtension(Domain domain) : FileProviderExtension(std::move(domain), Bundle::main()) {}

FileProviderExtension::FileProviderExtension(Domain domain, Bundle bundle, TokenBroker::Clock clock)
    : domain_(std::move(domain)), bundle_(std::move(bundle)), tokens_(std::make_shared<TokenBroker>(std::move(clock))) {
  if (auto config = loadConfig(domain_.identifier)) {
    if (auto base = URL::parse(config->apiBase)) api_ = std::make_shared<const DriveAPI>(*base, tokens_);
  }
  driveLog().notice("init domain=%{public}s configured=%{bool,public}d", {domain_.identifier, isConfigured() ? "true" : "false"});
}

FileProviderExtension::~FileProviderExtension() {
  tokens_->close();
}

std::optional<DriveDomainConfig> FileProviderExtension::loadConfig(const std::string& domainIdentifier) const {
  auto group = bundle_.infoString("OstrelAppGroup");
  auto container = group ? containerForApplicationGroup(*group) : std::nullopt;
  if (!container) {
    driveLog().fault("no App Group container");
    return std::nullopt;
  }
  std::optional<DriveDomainConfig> config;
  if (auto file = DriveDomainConfig::url(*container, domainIdentifier)) {
    std::ifstream in(*file, std::ios::binary);
    std::ostringstream bytes;
    if (in && (bytes << in.rdbuf())) config = DriveDomainConfig::decode(bytes.str());
  }
  if (!config) driveLog().fault("no config for domain %{public}s", {domainIdentifier});
  return config;
}

void FileProviderExtension::perform(const ProgressPtr& progress, Body body, std::function<void(Error)> failure) const {
  if (!api_) {
    failure(FileProviderError::make(FileProviderError::cannotSynchronize));
    return;
  }
  auto task = Task::start([api = api_, body = std::move(body), failure = std::move(failure)](std::stop_token stop) {
    if (auto done = body(*api, stop); !done) failure(done.error());
  });
  progress->setCancellationHandler([task] { task->cancel(); });
}

std::expected<std::shared_ptr<Enumerator>, Error> FileProviderExtension::enumeratorForContainer(
    const ItemIdentifier& container) {
  if (!api_) return std::unexpected(FileProviderError::make(FileProviderError::cannotSynchronize));
  if (container != workingSetItemIdentifier) {
    const std::string wire = DriveID::wire(container);
    if (!DriveID::isKnown(wire) || !DriveID::isContainer(wire)) {
      return std::unexpected(FileProviderError::nonExistentItem(container.rawValue));
    }
    recent_->note(container);
  }
  return std::make_shared<DriveEnumerator>(container, api_);
}

std::expected<std::shared_ptr<HostServiceSource>, Error> FileProviderExtension::hostService() {
  std::lock_guard lock(hostServiceLock_);
  if (!hostService_) {
    // The source outlives nothing of ours: once the extension is gone its
    // provider answers an empty list.
    std::weak_ptr<RecentContainers> recent = recent_;
    auto made = HostServiceSource::create(tokens_, domain_, bundle_.bundleIdentifier().value_or(""), [recent] {
      auto alive = recent.lock();
      return alive ? alive->snapshot() : std::vector<ItemIdentifier>{};
    });
    if (!made) return std::unexpected(made.error());
    hostService_ = std::move(*made);
  }
  return hostService_;
}

ProgressPtr FileProviderExtension::supportedServiceSources(const ItemIdentifier&, ServiceSourcesCompletion completion) {
  auto source = hostService();
  if (source) {
    completion({*source}, std::nullopt);
  } else {
    completion({}, source.error());
  }
  return Progress::withTotalUnitCount(0);
}

void FileProviderExtension::signalWorkingSet(const Domain& domain, std::stop_token stop) {
  auto manager = managerForDomain(domain);
  if (!manager) return;
  struct Answer {
    std::mutex mutex;
    std::condition_variable_any done;
    bool answered = false;
  };
  auto answer = std::make_shared<Answer>();
  manager->signalEnumerator(workingSetItemIdentifier, [answer](std::optional<Error>) {
    {
      std::lock_guard lock(answer->mutex);
      answer->answered = true;
    }
    answer->done.notify_all();
  });
  // A failed or missing answer does not undo the write; do not wait forever.
  std::unique_lock lock(answer->mutex);
  answer->done.wait_for(lock, stop, std::chrono::seconds(30), [&] { return answer->answered; });
}

}  // namespace ostrel::drive
