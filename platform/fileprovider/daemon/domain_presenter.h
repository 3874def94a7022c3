#pragma once

#include <filesystem>
#include <optional>

#include "platform/fileprovider/daemon/domain_instance.h"

namespace ostrel::fileprovider {

// Mounts each domain under the mount root; without one, domains are not shown.
DomainInstance::Presenter domainPresenter(std::optional<std::filesystem::path> mountRoot);

}  // namespace ostrel::fileprovider
