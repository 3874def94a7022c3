#include "platform/fileprovider/system_manager_linux.h"

#include <system_error>

#include "platform/fileprovider/control_protocol.h"
#include "platform/xpc/connection.h"
#include "platform/xpc/errors.h"

namespace ostrel::fileprovider {

namespace {

Error daemonUnavailable(const Error& cause) {
  if (cause.is(CocoaError::domain, xpc::XPCError::connectionInvalid)) {
    return FileProviderError::make(FileProviderError::providerNotFound,
                                   "the file provider daemon (ostrel-fileproviderd) is not running");
  }
  if (cause.is(CocoaError::domain, xpc::XPCError::connectionInterrupted)) {
    return FileProviderError::make(FileProviderError::providerNotFound,
                                   "the file provider daemon (ostrel-fileproviderd) went away during the request");
  }
  return cause;
}

// A service as the daemon described it: the extension's listener.
class EndpointService final : public Service {
 public:
  EndpointService(std::string name, xpc::ListenerEndpoint endpoint)
      : name_(std::move(name)), endpoint_(std::move(endpoint)) {}

  std::string name() const override { return name_; }
  void getFileProviderConnection(
      std::function<void(std::shared_ptr<xpc::Connection>, std::optional<Error>)> completion) override {
    completion(xpc::Connection::create(endpoint_), std::nullopt);
  }

 private:
  std::string name_;
  xpc::ListenerEndpoint endpoint_;
};

}  // namespace

void SystemManager::request(const std::string& selector, xpc::Arguments arguments,
                            std::function<void(std::expected<xpc::Arguments, Error>)> completion) {
  auto connection = xpc::Connection::create(xpc::ListenerEndpoint::forService(control::serviceName));
  connection->setRemoteObjectInterface(control::interface());
  connection->resume();
  std::weak_ptr<xpc::Connection> weak = connection;
  auto proxy = connection->remoteObjectProxyWithErrorHandler([completion, weak](Error error) {
    if (auto live = weak.lock()) live->invalidate();
    completion(std::unexpected(daemonUnavailable(error)));
  });
  proxy.send(selector, std::move(arguments), [completion, weak](xpc::Arguments reply) {
    if (auto live = weak.lock()) live->invalidate();
    const std::string* errorText = reply.empty() ? nullptr : std::get_if<std::string>(&reply.back());
    if (!errorText) {
      return completion(std::unexpected(FileProviderError::make(FileProviderError::cannotSynchronize,
                                                                "the file provider daemon answered nonsense")));
    }
    if (auto error = control::decodeError(*errorText)) return completion(std::unexpected(*error));
    reply.pop_back();
    completion(std::move(reply));
  });
}

void SystemManager::requestWithoutResult(const std::string& selector, xpc::Arguments arguments,
                                         ErrorHandler completion) {
  request(selector, std::move(arguments), [completion = std::move(completion)](auto result) {
    if (completion) completion(result ? std::nullopt : std::optional<Error>(result.error()));
  });
}

void SystemManager::unsentEdits(std::function<void(std::expected<std::string, Error>)> completion) {
  request(control::unsentEdits, {domain_.identifier}, [completion = std::move(completion)](auto result) {
    if (!result) return completion(std::unexpected(result.error()));
    const std::string* text = result->empty() ? nullptr : std::get_if<std::string>(&result->front());
    if (!text) {
      return completion(std::unexpected(
          FileProviderError::make(FileProviderError::cannotSynchronize, "the file provider daemon answered nonsense")));
    }
    completion(*text);
  });
}

void SystemManager::signalEnumerator(const ItemIdentifier& container, ErrorHandler completion) {
  requestWithoutResult(control::signalEnumerator, {domain_.identifier, container.rawValue}, std::move(completion));
}

std::expected<std::filesystem::path, Error> SystemManager::temporaryDirectory() {
  std::error_code ec;
  std::filesystem::create_directories(storage_.temporaryDirectory(), ec);
  if (ec) return std::unexpected(POSIXError::make(ec.value()));
  return storage_.temporaryDirectory();
}

void SystemManager::getService(const std::string& name, const ItemIdentifier& item,
                               std::function<void(std::shared_ptr<Service>, std::optional<Error>)> completion) {
  request(control::serviceEndpoint, {domain_.identifier, item.rawValue, name},
          [name, completion = std::move(completion)](std::expected<xpc::Arguments, Error> result) {
            if (!result) return completion(nullptr, result.error());
            const std::string* text = result->empty() ? nullptr : std::get_if<std::string>(&result->front());
            auto endpoint = text ? xpc::ListenerEndpoint::parse(*text) : std::nullopt;
            if (!endpoint) return completion(nullptr, std::nullopt);  // the extension offers no such service
            completion(std::make_shared<EndpointService>(name, *endpoint), std::nullopt);
          });
}

void SystemManager::reimportItems(const ItemIdentifier& below, ErrorHandler completion) {
  requestWithoutResult(control::reimportItems, {domain_.identifier, below.rawValue}, std::move(completion));
}

void SystemManager::disconnect(const std::string& reason, uint64_t options, ErrorHandler completion) {
  requestWithoutResult(control::disconnect, {domain_.identifier, reason, static_cast<int64_t>(options)},
                       std::move(completion));
}

void SystemManager::reconnect(ErrorHandler completion) {
  requestWithoutResult(control::reconnect, {domain_.identifier}, std::move(completion));
}

}  // namespace ostrel::fileprovider
