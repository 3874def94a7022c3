#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::refsvc {

// Empty, ".", "..", a "/" or NUL, or more than 255 bytes: not a name.
bool isValidName(std::string_view name);
// Siblings may not share a name up to ASCII case (the drive's volumes ignore case).
std::string nameKey(std::string_view name);

struct NameParts {
  std::string stem;
  std::string extension;  // with its dot; empty when there is none
};
NameParts splitName(std::string_view name);

// "Engagement letter.docx", 3 -> "Engagement letter (v3).docx"
std::string versionFilename(std::string_view documentName, int64_t number);
// Drafts and saves are named after the document, with the extension of the bytes they hold.
std::string draftFilename(std::string_view documentName, int64_t number, std::string_view bytesName);
std::string saveFilename(std::string_view documentName, int64_t number);

// The media type of a document type the service keeps, or nothing for an unknown type.
std::optional<std::string_view> documentContentType(std::string_view filename);

}  // namespace ostrel::refsvc
