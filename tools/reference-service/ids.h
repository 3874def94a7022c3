#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::refsvc {

// Lower-case hex of `bytes` random bytes, for upload ids, signatures and tickets.
std::string randomHex(size_t bytes);
// A fresh random UUID, lower-case 8-4-4-4-12 (version ids, blob names).
std::string newUuid();
// True for a UUID in 8-4-4-4-12 form, either case.
bool isUuid(std::string_view text);
std::string lowerASCII(std::string_view text);

std::string base64url(std::string_view bytes);
std::optional<std::string> fromBase64url(std::string_view text);

}  // namespace ostrel::refsvc
