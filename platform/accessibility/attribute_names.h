#pragma once

namespace ostrel::accessibility {

// The attribute names of the Accessibility interface (kAX...Attribute).
inline constexpr const char* windowsAttribute = "AXWindows";
inline constexpr const char* childrenAttribute = "AXChildren";
inline constexpr const char* titleAttribute = "AXTitle";
inline constexpr const char* descriptionAttribute = "AXDescription";
inline constexpr const char* valueAttribute = "AXValue";
inline constexpr const char* helpAttribute = "AXHelp";
inline constexpr const char* roleDescriptionAttribute = "AXRoleDescription";

}  // namespace ostrel::accessibility
