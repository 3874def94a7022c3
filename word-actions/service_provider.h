#pragma once

#include <memory>
#include <string_view>

#include "platform/appkit/workspace.h"
#include "platform/services/services.h"
#include "platform/appkit/scheduled_exits.h"

namespace ostrel::wordactions {

// The three Services entries, each forwarding its action to the desktop
// application as scheme://word/<action>.
class ServiceProvider {
 public:
  ServiceProvider(Workspace& workspace, ScheduledExits& exits);

  // openFromOstrel:userData:error:, saveAsNew:userData:error:, saveVersion:userData:error:.
  void openFromOstrel(const Pasteboard&, const std::string& userData, std::optional<std::string>& error);
  void saveAsNew(const Pasteboard&, const std::string& userData, std::optional<std::string>& error);
  void saveVersion(const Pasteboard&, const std::string& userData, std::optional<std::string>& error);

  // The entries as the platform's Services registration takes them.
  std::shared_ptr<ServicesProvider> services();

 private:
  void dispatch(std::string_view action);

  Workspace& workspace_;
  ScheduledExits& exits_;
};

}  // namespace ostrel::wordactions
