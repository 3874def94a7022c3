#include "drive/model/drive_log.h"

namespace ostrel::drive {

const Logger& driveLog() {
  static const Logger logger("local.ostrel.desktop.drive", "extension");
  return logger;
}

}  // namespace ostrel::drive
