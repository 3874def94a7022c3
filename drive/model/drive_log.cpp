#include "drive/model/drive_log.h"

namespace ostrel::drive {

const Logger& driveLog() {
  // Never destroyed: task and connection threads may still log while the process exits.
  static const Logger* logger = new Logger("local.ostrel.desktop.drive", "extension");
  return *logger;
}

}  // namespace ostrel::drive
