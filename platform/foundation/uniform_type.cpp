#include "platform/foundation/uniform_type.h"

#include <array>
#include <vector>

#include "platform/foundation/text.h"

namespace ostrel {

namespace {

struct Declaration {
  std::string_view type;
  std::vector<std::string_view> parents;
  std::vector<std::string_view> extensions;
};

const std::vector<Declaration>& declarations() {
  static const std::vector<Declaration> table = {
      {"public.item", {}, {}},
      {"public.content", {"public.item"}, {}},
      {"public.data", {"public.item"}, {}},
      {"public.directory", {"public.item"}, {}},
      {"public.folder", {"public.directory"}, {}},
      {"public.symlink", {"public.item"}, {}},
      {"com.apple.alias-file", {"public.data"}, {}},
      {"public.composite-content", {"public.content"}, {}},
      {"public.text", {"public.data", "public.content"}, {}},
      {"public.plain-text", {"public.text"}, {"txt", "text"}},
      {"net.daringfireball.markdown", {"public.plain-text"}, {"md", "markdown"}},
      {"public.rtf", {"public.text"}, {"rtf"}},
      {"public.html", {"public.text"}, {"html", "htm"}},
      {"public.xml", {"public.text"}, {"xml"}},
      {"public.json", {"public.text"}, {"json"}},
      {"public.comma-separated-values-text", {"public.text"}, {"csv"}},
      {"com.adobe.pdf", {"public.data", "public.composite-content"}, {"pdf"}},
      {"public.zip-archive", {"public.data"}, {"zip"}},
      {"org.openxmlformats.openxml", {"public.zip-archive"}, {}},
      {"org.openxmlformats.wordprocessingml.document",
       {"org.openxmlformats.openxml", "public.composite-content"},
       {"docx"}},
      {"org.openxmlformats.wordprocessingml.document.macroenabled",
       {"org.openxmlformats.openxml", "public.composite-content"},
       {"docm"}},
      {"org.openxmlformats.spreadsheetml.sheet", {"org.openxmlformats.openxml", "public.composite-content"}, {"xlsx"}},
      {"org.openxmlformats.presentationml.presentation",
       {"org.openxmlformats.openxml", "public.composite-content"},
       {"pptx"}},
      {"com.microsoft.word.doc", {"public.data", "public.composite-content"}, {"doc"}},
      {"com.microsoft.excel.xls", {"public.data", "public.composite-content"}, {"xls"}},
      {"com.microsoft.powerpoint.ppt", {"public.data", "public.composite-content"}, {"ppt"}},
      {"org.oasis-open.opendocument.text", {"public.data", "public.composite-content"}, {"odt"}},
      {"com.apple.mail.email", {"public.data", "public.content"}, {"eml"}},
      {"com.microsoft.outlook.message", {"public.data", "public.content"}, {"msg"}},
      {"public.image", {"public.data", "public.content"}, {}},
      {"public.png", {"public.image"}, {"png"}},
      {"public.jpeg", {"public.image"}, {"jpg", "jpeg"}},
      {"public.tiff", {"public.image"}, {"tif", "tiff"}},
      {"com.compuserve.gif", {"public.image"}, {"gif"}},
  };
  return table;
}

const Declaration* find(std::string_view type) {
  for (const auto& declaration : declarations()) {
    if (declaration.type == type) return &declaration;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> UTType::forFilenameExtension(std::string_view extension) {
  if (extension.empty()) return std::nullopt;
  const std::string wanted = lowercased(extension);
  for (const auto& declaration : declarations()) {
    for (auto candidate : declaration.extensions) {
      if (candidate == wanted) return std::string(declaration.type);
    }
  }
  return std::nullopt;
}

bool UTType::conforms(std::string_view type, std::string_view supertype) {
  if (type == supertype) return true;
  const Declaration* declaration = find(type);
  if (!declaration) return false;
  for (auto parent : declaration->parents) {
    if (conforms(parent, supertype)) return true;
  }
  return false;
}

std::string pathExtension(std::string_view filename) {
  const size_t dot = filename.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == filename.size()) return {};
  return std::string(filename.substr(dot + 1));
}

}  // namespace ostrel
