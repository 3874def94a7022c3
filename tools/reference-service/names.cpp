#include "tools/reference-service/names.h"

#include <array>
#include <utility>

#include "tools/reference-service/ids.h"

namespace ostrel::refsvc {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 17> documentTypes = {{
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"doc", "application/msword"},
    {"pdf", "application/pdf"},
    {"txt", "text/plain; charset=utf-8"},
    {"rtf", "application/rtf"},
    {"md", "text/markdown; charset=utf-8"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"xls", "application/vnd.ms-excel"},
    {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"ppt", "application/vnd.ms-powerpoint"},
    {"csv", "text/csv; charset=utf-8"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"msg", "application/vnd.ms-outlook"},
    {"eml", "message/rfc822"},
}};

}  // namespace

bool isValidName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (name.size() > 255) return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string nameKey(std::string_view name) {
  return lowerASCII(name);
}

NameParts splitName(std::string_view name) {
  const size_t dot = name.rfind('.');
  // A leading dot starts a hidden name, not an extension.
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {std::string(name), ""};
  return {std::string(name.substr(0, dot)), std::string(name.substr(dot))};
}

std::string versionFilename(std::string_view documentName, int64_t number) {
  const auto parts = splitName(documentName);
  return parts.stem + " (v" + std::to_string(number) + ")" + parts.extension;
}

std::string draftFilename(std::string_view documentName, int64_t number, std::string_view bytesName) {
  auto parts = splitName(documentName);
  const auto bytesParts = splitName(bytesName);
  if (!bytesParts.extension.empty()) parts.extension = bytesParts.extension;
  return parts.stem + " (draft " + std::to_string(number) + ")" + parts.extension;
}

std::string saveFilename(std::string_view documentName, int64_t number) {
  const auto parts = splitName(documentName);
  return parts.stem + " (save " + std::to_string(number) + ")" + parts.extension;
}

std::optional<std::string_view> documentContentType(std::string_view filename) {
  const auto parts = splitName(filename);
  if (parts.extension.empty()) return std::nullopt;
  const std::string extension = lowerASCII(std::string_view(parts.extension).substr(1));
  for (const auto& [known, type] : documentTypes) {
    if (extension == known) return type;
  }
  return std::nullopt;
}

}  // namespace ostrel::refsvc
