#pragma once

#include <string>
#include <vector>

namespace ostrel::refsvc {

// Small but well-formed documents for the demo data, one paragraph or line
// per element of `text`.
std::string wordDocument(const std::vector<std::string>& text);
std::string pdfDocument(const std::vector<std::string>& text);
std::string plainText(const std::vector<std::string>& text);

}  // namespace ostrel::refsvc
