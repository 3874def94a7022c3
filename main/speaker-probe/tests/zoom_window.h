#pragma once

#include <string>
#include <vector>

#include "platform/accessibility/stored_element.h"
#include "platform/accessibility/testing/fake_elements.h"

namespace ostrel::speaker::testing {

using accessibility::StoredElementPtr;
using accessibility::testing::fakeElement;

// The parts of a Zoom meeting window the probe reads, built in code.
inline StoredElementPtr videoTile(const std::string& description) {
  return fakeElement({{"AXRoleDescription", "Video render"}, {"AXDescription", description}});
}

inline StoredElementPtr participantsList(const std::vector<std::string>& rows) {
  std::vector<StoredElementPtr> children;
  for (const auto& row : rows) children.push_back(fakeElement({{"AXRoleDescription", "row"}, {"AXValue", row}}));
  return fakeElement({{"AXDescription", "Participants list"}}, std::move(children));
}

inline StoredElementPtr labelled(const std::string& value) { return fakeElement({{"AXValue", value}}); }

inline StoredElementPtr meetingWindow(std::vector<StoredElementPtr> children) {
  return fakeElement({{"AXTitle", "Zoom Meeting"}, {"AXRoleDescription", "standard window"}}, std::move(children));
}

}  // namespace ostrel::speaker::testing
