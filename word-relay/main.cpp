#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/applescript/apple_script.h"
#include "platform/appkit/workspace.h"
#include "platform/foundation/termination.h"
#include "word-relay/command_line.h"
#include "word-relay/relay_output.h"

// word-relay: one command per run, its result as one JSON line; exit status 0
// whatever happened, including SIGINT and SIGTERM (how a watch is stopped).
int main(int argc, char** argv) {
  ostrel::watchTerminationSignals([](int) {
    // The caller has given up: a script still running (a keystroke, say)
    // must not act after us, and its cut-short answer is no result.
    ostrel::word::silenceOutput();
    ostrel::AppleScript::abandonAll();
    std::_Exit(0);
  });
  // A reader that goes away is noticed when writing, not by a signal.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  ostrel::Workspace workspace;
  ostrel::word::runCommand(arguments, workspace);
  return 0;
}
