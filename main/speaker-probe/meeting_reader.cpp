#include "main/speaker-probe/meeting_reader.h"

#include <algorithm>

#include "main/speaker-probe/meeting_parsers.h"
#include "main/speaker-probe/meeting_patterns.h"
#include "main/speaker-probe/name_text.h"
#include "platform/accessibility/attribute_names.h"

namespace ostrel::speaker {

namespace {

using accessibility::AttributeValue;
using accessibility::Element;

std::vector<Element> elementsOf(std::optional<AttributeValue> value) {
  std::vector<Element> elements;
  if (!value || !value->array()) return elements;
  auto& array = std::get<AttributeValue::Array>(value->value);
  const bool onlyElements = std::ranges::all_of(
      array, [](const AttributeValue& member) { return std::holds_alternative<Element>(member.value); });
  if (!onlyElements) return elements;
  elements.reserve(array.size());
  for (auto& member : array) elements.push_back(std::get<Element>(std::move(member.value)));
  return elements;
}

// One walk; the counter and the snapshot are shared by all windows.
class MeetingWalk {
 public:
  void visit(const Element& element, int depth, bool inRoster) {
    if (depth > maxDepth || visited_ >= maxNodes) return;
    ++visited_;

    // The naming attributes include the role, description and value, so one
    // read of each serves both purposes.
    std::optional<std::string> role, description, value;
    for (const char* name : namingAttributes) {
      auto named = text(element, name);
      if (!named) continue;
      meeting_.strings.insert(*named);
      const std::string_view attributeName = name;
      if (attributeName == accessibility::roleDescriptionAttribute) role = std::move(named);
      else if (attributeName == accessibility::descriptionAttribute) description = std::move(named);
      else if (attributeName == accessibility::valueAttribute) value = std::move(named);
    }

    if (role == videoTileRole && description) meeting_.tileDescriptions.push_back(*description);
    if (inRoster && value) addRosterRow(*value);
    if (description) countParticipants(*description);
    if (value) countParticipants(*value);

    // Children that would not be visited are not worth reading.
    if (depth + 1 > maxDepth || visited_ >= maxNodes) return;
    const bool childrenInRoster = inRoster || description == participantsListDescription;
    for (const Element& child : children(element)) visit(child, depth + 1, childrenInRoster);
  }

  Meeting finish() && {
    for (const std::string& description : meeting_.tileDescriptions) {
      if (auto tile = parseTile(description, meeting_.roster)) meeting_.tiles.push_back(std::move(*tile));
    }
    return std::move(meeting_);
  }

  void setHasWindows(bool hasWindows) { meeting_.hasWindows = hasWindows; }

 private:
  void addRosterRow(const std::string& value) {
    auto plausible = plausibleName(value);
    if (!plausible) return;
    RosterRow row = parseRosterRow(*plausible);
    if (row.isSelf) meeting_.ownName = row.name;
    meeting_.roster.push_back(std::move(row.name));
  }

  void countParticipants(const std::string& text) {
    if (auto count = participantCount(text)) meeting_.total = std::max(*count, meeting_.total.value_or(0));
  }

  Meeting meeting_;
  int visited_ = 0;
};

}  // namespace

std::optional<AttributeValue> attribute(const Element& element, std::string_view name) {
  auto value = element.copyAttributeValue(name);
  if (!value) return std::nullopt;
  return std::move(*value);
}

std::optional<std::string> text(const Element& element, std::string_view name) {
  auto value = attribute(element, name);
  if (!value || !value->string() || value->string()->empty()) return std::nullopt;
  return std::move(std::get<std::string>(value->value));
}

std::vector<Element> children(const Element& element) {
  return elementsOf(attribute(element, accessibility::childrenAttribute));
}

Meeting readMeeting(const accessibility::Accessibility& accessibility, int32_t processIdentifier) {
  const Element application = accessibility.applicationElement(processIdentifier);
  const std::vector<Element> windows = elementsOf(attribute(application, accessibility::windowsAttribute));
  MeetingWalk walk;
  walk.setHasWindows(!windows.empty());
  for (const Element& window : windows) walk.visit(window, 0, false);
  return std::move(walk).finish();
}

}  // namespace ostrel::speaker
