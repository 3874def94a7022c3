#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

// Calls `changed` on its own thread whenever the registry file in `directory`
// is replaced or written, until the watcher goes. The watcher may go from
// within `changed` (its last owner let go there): the thread then ends as
// soon as `changed` returns.
class RegistryWatcher {
 public:
  static std::expected<std::unique_ptr<RegistryWatcher>, Error> start(const std::filesystem::path& directory,
                                                                      std::function<void()> changed);
  ~RegistryWatcher();
  RegistryWatcher(const RegistryWatcher&) = delete;
  RegistryWatcher& operator=(const RegistryWatcher&) = delete;

 private:
  struct State;
  explicit RegistryWatcher(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace ostrel::fileprovider
