#include "platform/accessibility/accessibility_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include <nlohmann/json.hpp>

#include "platform/accessibility/accessibility_error.h"
#include "platform/foundation/unique_fd.h"

namespace ostrel::accessibility {

namespace {

using Json = nlohmann::json;

constexpr long cocoaJSONReadingError = 3840;
constexpr const char* failureKey = "AXError";

StoredElementPtr storedElementFrom(Json& object, size_t depth);

// Strings are moved out of the parsed document: it is thrown away afterwards.
StoredValue storedValueFrom(Json& json, size_t depth) {
  if (depth > AccessibilitySnapshot::maxNesting) return AttributeFailure{AXError::cannotComplete};
  switch (json.type()) {
    case Json::value_t::string:
      return std::move(json.get_ref<std::string&>());
    case Json::value_t::boolean:
      return json.get<bool>();
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return json.get<double>();
    case Json::value_t::array: {
      StoredValue::Array array;
      array.reserve(json.size());
      for (Json& member : json) array.push_back(storedValueFrom(member, depth + 1));
      return array;
    }
    case Json::value_t::object: {
      if (json.size() == 1 && json.contains(failureKey) && json[failureKey].is_number_integer()) {
        return AttributeFailure{json[failureKey].get<long>()};
      }
      return storedElementFrom(json, depth);
    }
    default:
      return AttributeFailure{AXError::noValue};
  }
}

StoredElementPtr storedElementFrom(Json& object, size_t depth) {
  auto element = std::make_shared<StoredElement>();
  element->attributes.reserve(object.size());
  for (auto it = object.begin(); it != object.end(); ++it) {
    element->attributes.emplace_back(it.key(), storedValueFrom(it.value(), depth + 1));
  }
  return element;
}

std::optional<AccessibilitySnapshot::Application> applicationFrom(Json& entry) {
  if (!entry.is_object()) return std::nullopt;
  auto bundle = entry.find("bundleIdentifier");
  auto pid = entry.find("processIdentifier");
  if (bundle == entry.end() || !bundle->is_string()) return std::nullopt;
  if (pid == entry.end() || !pid->is_number_integer()) return std::nullopt;
  if (pid->is_number_unsigned() && pid->get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    return std::nullopt;
  }
  const auto number = pid->get<int64_t>();
  if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max()) return std::nullopt;

  AccessibilitySnapshot::Application application{bundle->get<std::string>(), static_cast<int32_t>(number), nullptr};
  auto element = entry.find("element");
  application.element = element != entry.end() && element->is_object() ? storedElementFrom(*element, 3)
                                                                        : std::make_shared<StoredElement>();
  return application;
}

}  // namespace

// Depth as the parser counts it: members of an application entry are at 3.
constexpr int applicationMemberDepth = 3;

std::expected<AccessibilitySnapshot, Error> parseAccessibilitySnapshot(std::string_view text, SnapshotPart part) {
  Json::parser_callback_t skipElementTrees = nullptr;
  if (part == SnapshotPart::withoutElementTrees) {
    skipElementTrees = [](int depth, Json::parse_event_t event, Json& parsed) {
      return !(event == Json::parse_event_t::key && depth == applicationMemberDepth && parsed == "element");
    };
  }
  Json json = Json::parse(text.begin(), text.end(), skipElementTrees, /*allow_exceptions=*/false);
  if (json.is_discarded() || !json.is_object()) {
    return std::unexpected(Error{"NSCocoaErrorDomain", cocoaJSONReadingError,
                                 {{localizedDescriptionKey, "The snapshot is not a JSON object."}}});
  }
  AccessibilitySnapshot snapshot;
  if (auto trusted = json.find("trusted"); trusted != json.end() && trusted->is_boolean()) {
    snapshot.trusted = trusted->get<bool>();
  }
  if (auto applications = json.find("applications"); applications != json.end() && applications->is_array()) {
    for (Json& entry : *applications) {
      if (auto application = applicationFrom(entry)) snapshot.applications.push_back(std::move(*application));
    }
  }
  return snapshot;
}

std::expected<AccessibilitySnapshot, Error> readAccessibilitySnapshot(const std::filesystem::path& file,
                                                                      SnapshotPart part) {
  // Non-blocking, so that a FIFO without a writer opens at once and is then
  // refused, instead of holding the poll until someone writes to it.
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd) return std::unexpected(POSIXError::make(errno));
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return std::unexpected(POSIXError::make(errno));
  if (!S_ISREG(status.st_mode)) return std::unexpected(POSIXError::make(EINVAL));
  if (static_cast<uintmax_t>(status.st_size) > AccessibilitySnapshot::maxFileSize) {
    return std::unexpected(POSIXError::make(EFBIG));
  }
  std::string text;
  text.reserve(static_cast<size_t>(status.st_size));
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(POSIXError::make(errno));
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    // The file may have grown since it was measured.
    if (text.size() > AccessibilitySnapshot::maxFileSize) return std::unexpected(POSIXError::make(EFBIG));
  }
  return parseAccessibilitySnapshot(text, part);
}

}  // namespace ostrel::accessibility
