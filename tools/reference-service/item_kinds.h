#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::refsvc {

// What an identifier names. The prefix alone decides it; the rest of the
// identifier is ours and is never parsed.
enum class Kind {
  root,
  myMatters,
  adminAll,
  matter,
  folder,
  document,
  versionFolder,
  version,
  filedRecords,
  precedents,
  record,
  saves,
  save,
  drafts,
  draft,
  unknown,
};

Kind kindOf(std::string_view id);
// The kind's word in the store's `kind` column ("folder", "doc", ...).
std::string_view kindName(Kind kind);
// "folder:" and so on; empty for the three whole identifiers.
std::string_view prefixOf(Kind kind);
bool isContainer(Kind kind);

// The operation words the partner may use on an item of this kind when the
// matter it lies in lets the partner write.
std::vector<std::string> writeCapabilities(Kind kind);

// Listing order within a container: folders before documents, versions
// newest first, then drafts, saves and version folders.
std::string sortKey(Kind kind, std::string_view filename, int64_t ordinal);

}  // namespace ostrel::refsvc
