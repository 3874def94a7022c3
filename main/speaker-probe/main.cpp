// speaker-probe: reports, as JSON lines, whether a Zoom meeting window is
// open, who is speaking and who takes part. Runs until SIGINT or SIGTERM.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "main/speaker-probe/event_output.h"
#include "main/speaker-probe/probe_clock.h"
#include "main/speaker-probe/probe_options.h"
#include "main/speaker-probe/speaker_probe.h"
#include "platform/accessibility/accessibility.h"
#include "platform/foundation/termination.h"

int main(int argc, char** argv) {
  using namespace ostrel::speaker;
  // Nothing is held that the system would not release with the process.
  ostrel::watchTerminationSignals([](int) { std::_Exit(0); });

  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ProbeOptions options = parseProbeOptions(arguments);
  const char* patterns = std::getenv("OSTREL_ZOOM_SPEAKER_PATTERNS");

  auto accessibility = ostrel::accessibility::systemAccessibility();
  SystemClock clock;
  LineEventOutput output(stdout);
  SpeakerProbe probe({.bundleID = options.bundleID,
                      .pollInterval = durationOfSeconds(options.pollInterval),
                      .knownSelf = options.knownSelf,
                      .patterns = speakerPatterns(patterns ? patterns : "")},
                     *accessibility, clock, output);
  probe.run({});
  return 0;
}
