#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ostrel::refsvc {

// A ZIP archive of stored (uncompressed) entries: enough for the demo's
// Office documents, which are ZIP packages of XML parts.
std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace ostrel::refsvc
