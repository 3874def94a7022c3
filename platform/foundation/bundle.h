#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/property_list.h"

namespace ostrel {

// A program's bundle: Name.app or Name.appex laid out as on macOS
// (Contents/Info.plist, Contents/MacOS/Name), or, for a bare program, the
// directory it lies in (with no Info.plist).
class Bundle {
 public:
  // The bundle at a bundle's root directory.
  static Bundle atPath(const std::filesystem::path& root);
  // The bundle that holds a binary (executable or loadable module).
  static Bundle containingBinary(const std::filesystem::path& binary);
  // The bundle of the running code: the module or executable this library is
  // linked into. An extension loaded into a host process finds its own bundle.
  static const Bundle& main();

  const std::filesystem::path& bundlePath() const { return root_; }
  std::optional<std::string> infoString(std::string_view key) const;
  std::optional<std::string> bundleIdentifier() const { return infoString("CFBundleIdentifier"); }
  const std::optional<PropertyList>& infoDictionary() const { return info_; }

 private:
  std::filesystem::path root_;
  std::optional<PropertyList> info_;
};

// NSFileManager containerURLForSecurityApplicationGroupIdentifier: the shared
// directory of an application group, $OSTREL_HOME/Group Containers/<group>,
// made on first use. Nothing for an empty group or one that is not a plain name.
std::optional<std::filesystem::path> containerForApplicationGroup(std::string_view group);

}  // namespace ostrel
