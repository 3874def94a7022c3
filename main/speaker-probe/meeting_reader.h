#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "main/speaker-probe/meeting.h"
#include "platform/accessibility/accessibility.h"

namespace ostrel::speaker {

// Walks the windows of the application with this process identifier once
// and condenses them into a snapshot. Never fails: what cannot be read is
// simply absent.
Meeting readMeeting(const accessibility::Accessibility& accessibility, int32_t processIdentifier);

// The attribute's value; absent when the read fails or gives no value.
std::optional<accessibility::AttributeValue> attribute(const accessibility::Element& element,
                                                       std::string_view name);
// The attribute's value when it is a non-empty string.
std::optional<std::string> text(const accessibility::Element& element, std::string_view name);
// "AXChildren"; empty unless it is a list of elements only.
std::vector<accessibility::Element> children(const accessibility::Element& element);

}  // namespace ostrel::speaker
