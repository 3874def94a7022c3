#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// Uniform type identifiers: a built-in table of the types the programs meet.
namespace UTType {
inline constexpr const char* item = "public.item";
inline constexpr const char* content = "public.content";
inline constexpr const char* data = "public.data";
inline constexpr const char* directory = "public.directory";
inline constexpr const char* folder = "public.folder";
inline constexpr const char* symbolicLink = "public.symlink";
inline constexpr const char* aliasFile = "com.apple.alias-file";

// The declared type for a file-name extension (any case), if the table has one.
std::optional<std::string> forFilenameExtension(std::string_view extension);
// Whether `type` is `supertype` or descends from it. Unknown types conform
// to nothing but themselves.
bool conforms(std::string_view type, std::string_view supertype);
}  // namespace UTType

// The text after the last point of a file name, as the platform reads it:
// nothing for a name without a point, a name ending in one, or a hidden name
// whose only point leads it (".profile").
std::string pathExtension(std::string_view filename);

}  // namespace ostrel
