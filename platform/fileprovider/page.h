#pragma once

#include <string>

namespace ostrel::fileprovider {

// NSFileProviderPage and NSFileProviderSyncAnchor: opaque bytes handed out by
// the extension and handed back byte for byte.
struct Page {
  std::string bytes;
  friend bool operator==(const Page&, const Page&) = default;
};

struct SyncAnchor {
  std::string bytes;
  friend bool operator==(const SyncAnchor&, const SyncAnchor&) = default;
};

// The two pages a listing starts from; their bytes cannot be confused with a
// page the extension makes from text, as they are not valid UTF-8.
inline const Page initialPageSortedByName{std::string("\xFF\xFEinitial-page-by-name", 22)};
inline const Page initialPageSortedByDate{std::string("\xFF\xFEinitial-page-by-date", 22)};

}  // namespace ostrel::fileprovider
