#include "tools/reference-service/item_kinds.h"

#include <array>
#include <cstdio>

#include "tools/reference-service/ids.h"

namespace ostrel::refsvc {

namespace {

struct KindInfo {
  Kind kind;
  std::string_view name;
  std::string_view prefix;
  bool container;
};

// "rl:" is its own prefix: "rlf:" and "rlp:" differ in the third character.
constexpr std::array<KindInfo, 15> kinds = {{
    {Kind::root, "root", "", true},
    {Kind::myMatters, "my-matters", "", true},
    {Kind::adminAll, "admin-all", "", true},
    {Kind::matter, "matter", "matter:", true},
    {Kind::folder, "folder", "folder:", true},
    {Kind::document, "doc", "doc:", true},
    {Kind::versionFolder, "vf", "vf:", true},
    {Kind::version, "ver", "ver:", false},
    {Kind::filedRecords, "rlf", "rlf:", true},
    {Kind::precedents, "rlp", "rlp:", true},
    {Kind::record, "rl", "rl:", false},
    {Kind::saves, "svs", "svs:", true},
    {Kind::save, "save", "save:", false},
    {Kind::drafts, "dft", "dft:", true},
    {Kind::draft, "dfl", "dfl:", false},
}};

const KindInfo* infoOf(Kind kind) {
  for (const auto& info : kinds) {
    if (info.kind == kind) return &info;
  }
  return nullptr;
}

// Newest first: a larger ordinal sorts earlier.
std::string descending(int64_t ordinal) {
  char text[24];
  std::snprintf(text, sizeof text, "%012lld", static_cast<long long>(999'999'999'999 - ordinal));
  return text;
}

}  // namespace

Kind kindOf(std::string_view id) {
  if (id == "root") return Kind::root;
  if (id == "my-matters") return Kind::myMatters;
  if (id == "admin-all") return Kind::adminAll;
  for (const auto& info : kinds) {
    if (!info.prefix.empty() && id.starts_with(info.prefix)) return info.kind;
  }
  return Kind::unknown;
}

std::string_view kindName(Kind kind) {
  const auto* info = infoOf(kind);
  return info ? info->name : "unknown";
}

std::string_view prefixOf(Kind kind) {
  const auto* info = infoOf(kind);
  return info ? info->prefix : "";
}

bool isContainer(Kind kind) {
  const auto* info = infoOf(kind);
  return info ? info->container : false;
}

std::vector<std::string> writeCapabilities(Kind kind) {
  switch (kind) {
    case Kind::folder:
    case Kind::document:
      return {"rename", "reparent", "delete", "add_children"};
    case Kind::versionFolder:
    case Kind::drafts:
      return {"add_children"};
    case Kind::version:
    case Kind::draft:
      return {"write"};
    default:
      return {};
  }
}

std::string sortKey(Kind kind, std::string_view filename, int64_t ordinal) {
  const std::string name = lowerASCII(filename);
  switch (kind) {
    case Kind::myMatters: return "0";
    case Kind::adminAll: return "1";
    case Kind::matter: return name;
    case Kind::folder: return "0:" + name;
    case Kind::document: return "1:" + name;
    case Kind::filedRecords: return "2:" + name;
    case Kind::precedents: return "3:" + name;
    case Kind::version: return "0:" + descending(ordinal);
    case Kind::drafts: return "1:";
    case Kind::saves: return "2:";
    case Kind::versionFolder: return "3:" + name;
    case Kind::draft:
    case Kind::save: return "0:" + descending(ordinal);
    default: return "0:" + name;
  }
}

}  // namespace ostrel::refsvc
