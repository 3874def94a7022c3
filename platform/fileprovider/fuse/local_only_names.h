#pragma once

#include <string_view>

namespace ostrel::fileprovider {

// Names that desktop programs give their lock, swap, backup and scratch files
// (LibreOffice, vim, emacs, rsync, GNOME, KDE, file managers). Such files live
// in the mount only: they are readable and writable by the program that made
// them, go when it deletes them, and are never sent to the extension. A file
// written under such a name and then renamed to a final one is sent under the
// final name.
bool isLocalOnlyName(std::string_view name);

}  // namespace ostrel::fileprovider
