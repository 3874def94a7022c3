#include "platform/fileprovider/daemon/domain_presenter.h"

namespace ostrel::fileprovider {

DomainInstance::Presenter domainPresenter(std::optional<std::filesystem::path>) {
  return {};
}

}  // namespace ostrel::fileprovider
