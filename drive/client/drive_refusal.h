#pragma once

#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace ostrel::drive {

// A change the service refused: the HTTP status and the service's refusal
// code, if it gave one. Travels as an Error of the refusal domain.
struct DriveRefusal {
  long status = 0;
  std::optional<std::string> code;

  // "Ostrel refused the change (<code or status>)"
  std::string localizedDescription() const;
  Error asError() const;
  // The refusal an error carries, if it is one.
  static std::optional<DriveRefusal> from(const Error& error);

  friend bool operator==(const DriveRefusal&, const DriveRefusal&) = default;
};

}  // namespace ostrel::drive
