#include "platform/fileprovider/daemon/extension_module_linux.h"

#include <dlfcn.h>

#include "platform/foundation/bundle.h"

namespace ostrel::fileprovider {

namespace {
Error loadError(std::string description) {
  return FileProviderError::make(FileProviderError::providerNotFound, std::move(description));
}
}  // namespace

std::expected<ExtensionModule, Error> ExtensionModule::load(const std::filesystem::path& bundlePath) {
  Bundle bundle = Bundle::atPath(bundlePath);
  auto executable = bundle.infoString("CFBundleExecutable");
  if (!executable || executable->empty() || executable->find('/') != std::string::npos) {
    return std::unexpected(loadError(bundlePath.string() + " has no CFBundleExecutable in its Info.plist"));
  }
  auto binary = bundlePath / "Contents" / "MacOS" / *executable;
  // RTLD_LOCAL: the extension keeps its own copies of the libraries it links.
  void* handle = ::dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return std::unexpected(loadError("cannot load " + binary.string() + ": " + ::dlerror()));
  auto factory = reinterpret_cast<ExtensionFactory>(::dlsym(handle, extensionFactorySymbol));
  if (!factory) {
    ::dlclose(handle);
    return std::unexpected(loadError(binary.string() + " exports no " + extensionFactorySymbol));
  }
  return ExtensionModule(bundlePath, factory);
}

std::shared_ptr<ReplicatedExtension> ExtensionModule::makeExtension(const Domain& domain) const {
  return std::shared_ptr<ReplicatedExtension>(factory_(&domain));
}

}  // namespace ostrel::fileprovider
