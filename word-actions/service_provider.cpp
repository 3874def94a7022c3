#include "word-actions/service_provider.h"

#include "word-actions/request_url.h"

namespace ostrel::wordactions {

using namespace std::chrono_literals;

ServiceProvider::ServiceProvider(Workspace& workspace, ScheduledExits& exits) : workspace_(workspace), exits_(exits) {}

// The pasteboard and the user data carry nothing the desktop application needs.
void ServiceProvider::openFromOstrel(const Pasteboard&, const std::string&, std::optional<std::string>&) {
  dispatch("open");
}

void ServiceProvider::saveAsNew(const Pasteboard&, const std::string&, std::optional<std::string>&) {
  dispatch("save-as-new");
}

void ServiceProvider::saveVersion(const Pasteboard&, const std::string&, std::optional<std::string>&) {
  dispatch("save-version");
}

std::shared_ptr<ServicesProvider> ServiceProvider::services() {
  auto services = std::make_shared<ServicesProvider>();
  using Method = void (ServiceProvider::*)(const Pasteboard&, const std::string&, std::optional<std::string>&);
  const auto add = [&](const char* message, const char* title, Method method) {
    services->addMethod(message, title,
                        [this, method](const Pasteboard& pasteboard, const std::string& userData,
                                       std::optional<std::string>& error) { (this->*method)(pasteboard, userData, error); });
  };
  add("openFromOstrel", "Open from Ostrel", &ServiceProvider::openFromOstrel);
  add("saveAsNew", "Save to Ostrel as New Document", &ServiceProvider::saveAsNew);
  add("saveVersion", "Save to Ostrel as New Version", &ServiceProvider::saveVersion);
  return services;
}

void ServiceProvider::dispatch(std::string_view action) {
  const std::string url = requestURL(urlScheme(), action);
  if (!isValidURLString(url)) return;
  // The stand-in has no activation to leave off: the opener hands the address on.
  workspace_.openURL(url);
  exits_.exitAfter(1s);
}

}  // namespace ostrel::wordactions
