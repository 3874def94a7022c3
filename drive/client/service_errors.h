#pragma once

// What a failing answer of the document service means to the drive.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace ostrel::drive {

// The error a failing status stands for, when the call takes no refusals.
Error errorForStatus(long status, std::string_view body, std::optional<std::string_view> identifier);
// The service's refusal code: "code" inside "detail" of an error body.
std::optional<std::string> serviceErrorCode(std::string_view body);

}  // namespace ostrel::drive
