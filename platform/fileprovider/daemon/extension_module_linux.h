#pragma once

#include <expected>
#include <filesystem>
#include <memory>

#include "platform/fileprovider/domain.h"
#include "platform/fileprovider/replicated_extension.h"
#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

// A file-provider extension bundle (Name.appex) loaded into this process. The
// module stays loaded for the life of the process: threads an extension
// started may still be running its code after the extension is released.
class ExtensionModule {
 public:
  static std::expected<ExtensionModule, Error> load(const std::filesystem::path& bundle);

  const std::filesystem::path& bundlePath() const { return bundle_; }
  // A new extension instance for the domain; released through the module.
  std::shared_ptr<ReplicatedExtension> makeExtension(const Domain& domain) const;

 private:
  ExtensionModule(std::filesystem::path bundle, ExtensionFactory factory)
      : bundle_(std::move(bundle)), factory_(factory) {}

  std::filesystem::path bundle_;
  ExtensionFactory factory_;
};

}  // namespace ostrel::fileprovider
