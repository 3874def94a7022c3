#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrel::fileprovider {

// The longest name one directory entry can have (NAME_MAX).
inline constexpr size_t longestEntryName = 255;

// The first `limit` bytes of `name` or fewer, never ending inside a UTF-8 sequence.
std::string cutAtCharacter(std::string name, size_t limit);

// The name an item of the service shows under in a directory. Any name the
// service gives becomes one the kernel accepts: "/" shows as U+2215 (DIVISION
// SLASH), NUL as U+FFFD; "", "." and ".." get a leading "_"; a name over
// 255 bytes is cut at a character.
std::string safeEntryName(std::string_view serviceName);

// The n-th name (n >= 2) of items that would show under the same name in one
// directory: "Same.txt" gives "Same (2).txt", "Notes" gives "Notes (2)".
// Kept within 255 bytes by cutting the part before the extension.
std::string numberedEntryName(const std::string& name, unsigned n);

// Whether `shown` is `name` or one of its numbered names.
bool isNumberedFormOf(const std::string& shown, const std::string& name);

}  // namespace ostrel::fileprovider
