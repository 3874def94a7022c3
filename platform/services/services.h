#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/io_context.hpp>

namespace ostrel {

// The pasteboard a Services request comes with. Where requests arrive on
// the command line (Linux) there is none to read, and it stays empty.
struct Pasteboard {};

// One Services method: (pasteboard, user data, error). Setting `error`
// reports a failure to the requester.
using ServiceMethod =
    std::function<void(const Pasteboard& pasteboard, const std::string& userData, std::optional<std::string>& error)>;

// The object behind NSRegisterServicesProvider: its Services entries, each
// by its message (the method name without ":userData:error:", as the
// NSServices declarations name it) and the menu title it is offered under.
class ServicesProvider {
 public:
  struct Entry {
    std::string message;
    std::string menuTitle;
    ServiceMethod method;
  };

  void addMethod(std::string message, std::string menuTitle, ServiceMethod method);
  const std::vector<Entry>& entries() const { return entries_; }
  const Entry* entry(std::string_view message) const;

 private:
  std::vector<Entry> entries_;
};

// NSRegisterServicesProvider: from now on the Services requests for
// `provider` under the port `name` run on `mainQueue`.
void registerServicesProvider(asio::io_context& mainQueue, std::shared_ptr<ServicesProvider> provider,
                              std::string name);

// NSUpdateDynamicServices: the system's Services list learns the entries of
// the registered providers.
void updateDynamicServices();

}  // namespace ostrel
