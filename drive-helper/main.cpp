#include <csignal>
#include <string>
#include <vector>

#include "drive-helper/commands.h"

// ostrel_drive_helper: registers, removes and lists the drive's domains, and
// with `serve` carries tokens between the desktop application and the
// extension. One JSON object per line on standard output.
int main(int argc, char** argv) {
  // A reader that goes away is noticed when writing, not by a signal.
  std::signal(SIGPIPE, SIG_IGN);
  const ostrel::drive::helper::Arguments args(argv + 1, argv + argc);
  return ostrel::drive::helper::runCommand(args);
}
