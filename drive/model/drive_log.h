#pragma once

#include "platform/foundation/log.h"

namespace ostrel::drive {

// The drive's one log: subsystem "local.ostrel.desktop.drive", category "extension".
const Logger& driveLog();

}  // namespace ostrel::drive
