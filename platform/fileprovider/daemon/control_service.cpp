#include "platform/fileprovider/daemon/control_service.h"

#include <nlohmann/json.hpp>

#include "platform/fileprovider/control_protocol.h"
#include "platform/fileprovider/daemon/file_provider_daemon.h"

namespace ostrel::fileprovider {

namespace {

const std::string& text(const xpc::Arguments& arguments, size_t index) {
  static const std::string empty;
  const auto* value = index < arguments.size() ? std::get_if<std::string>(&arguments[index]) : nullptr;
  return value ? *value : empty;
}

}  // namespace

bool ControlService::shouldAcceptNewConnection(std::shared_ptr<xpc::Connection> connection) {
  connection->setExportedInterface(control::interface());
  connection->setExportedObject(shared_from_this());
  connection->resume();
  return true;
}

void ControlService::invoke(const std::string& selector, const xpc::Arguments& arguments, xpc::ReplyBlock reply) {
  auto answer = [reply](std::optional<Error> error) { reply({control::encodeError(error)}); };
  auto daemon = daemon_.lock();
  if (!daemon) {
    return answer(FileProviderError::make(FileProviderError::providerNotFound,
                                          "the file provider daemon is shutting down"));
  }
  const std::string& domain = text(arguments, 0);

  if (selector == control::disconnect) return answer(daemon->setDisconnected(domain, true, text(arguments, 1)));
  if (selector == control::reconnect) return answer(daemon->setDisconnected(domain, false, {}));

  auto instance = daemon->instance(domain);
  if (!instance) {
    if (selector == control::serviceEndpoint || selector == control::unsentEdits)
      return reply({std::string(), control::encodeError(instance.error())});
    return answer(instance.error());
  }
  if (selector == control::serviceEndpoint) {
    (*instance)->serviceEndpoint(ItemIdentifier{text(arguments, 1)}, text(arguments, 2),
                                 [reply](std::optional<xpc::ListenerEndpoint> endpoint, std::optional<Error> error) {
                                   reply({endpoint ? endpoint->serialized() : std::string(),
                                          control::encodeError(error)});
                                 });
  } else if (selector == control::signalEnumerator) {
    (*instance)->signalEnumerator(ItemIdentifier{text(arguments, 1)});
    answer(std::nullopt);
  } else if (selector == control::unsentEdits) {
    nlohmann::json edits = nlohmann::json::array();
    for (const auto& edit : (*instance)->unsentEdits()) edits.push_back({{"name", edit.name}, {"state", edit.state}});
    reply({edits.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), control::encodeError(std::nullopt)});
  } else if (selector == control::reimportItems) {
    (*instance)->reimportItems(ItemIdentifier{text(arguments, 1)});
    answer(std::nullopt);
  } else {
    answer(CocoaError::make(CocoaError::featureUnsupported));
  }
}

}  // namespace ostrel::fileprovider
