#include <dlfcn.h>

#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"

namespace ostrel {

namespace fs = std::filesystem;

Bundle Bundle::atPath(const fs::path& root) {
  Bundle bundle;
  bundle.root_ = root;
  if (auto info = PropertyList::readFile(root / "Contents" / "Info.plist")) bundle.info_ = std::move(*info);
  return bundle;
}

Bundle Bundle::containingBinary(const fs::path& binary) {
  // Name.app/Contents/MacOS/Name: the bundle is three levels up.
  const fs::path macos = binary.parent_path();
  const fs::path contents = macos.parent_path();
  const fs::path root = contents.parent_path();
  const std::string kind = root.extension().string();
  if (macos.filename() == "MacOS" && contents.filename() == "Contents" && (kind == ".app" || kind == ".appex")) {
    return atPath(root);
  }
  Bundle bare;
  bare.root_ = binary.parent_path();
  return bare;
}

namespace {

fs::path binaryOfThisCode() {
  Dl_info info{};
  std::error_code error;
  if (dladdr(reinterpret_cast<const void*>(&binaryOfThisCode), &info) != 0 && info.dli_fname && *info.dli_fname) {
    fs::path module = fs::canonical(info.dli_fname, error);
    if (!error) return module;
  }
  return fs::canonical("/proc/self/exe", error);
}

}  // namespace

const Bundle& Bundle::main() {
  static const Bundle bundle = containingBinary(binaryOfThisCode());
  return bundle;
}

std::optional<std::string> Bundle::infoString(std::string_view key) const {
  return info_ ? info_->stringForKey(key) : std::nullopt;
}

std::optional<fs::path> containerForApplicationGroup(std::string_view group) {
  if (group.empty() || group == "." || group == ".." || group.find('/') != std::string_view::npos ||
      group.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  fs::path container = ostrelHome() / "Group Containers" / std::string(group);
  std::error_code error;
  fs::create_directories(container, error);
  if (error) return std::nullopt;
  return container;
}

}  // namespace ostrel
