// mic-watch: reports, as JSON lines, which processes start and stop taking
// audio input. Runs until SIGINT or SIGTERM.
#include <chrono>
#include <cstdio>
#include <memory>

#include "mic-watch/event_lines.h"
#include "mic-watch/process_monitor.h"
#include "mic-watch/process_names.h"
#include "mic-watch/scan_schedule.h"
#include "platform/coreaudio/audio_system.h"
#include "platform/foundation/termination.h"

namespace {
// Outlives main: the signal watcher and the audio system's thread reach it.
auto* const schedule = new ostrel::micwatch::ScanSchedule(std::chrono::seconds(1));
}  // namespace

int main() {
  using namespace ostrel::micwatch;
  ostrel::watchTerminationSignals([](int) { schedule->stop(); });

  StreamEventLines out(stdout);
  ProcessMonitor monitor(out, procName);
  monitor.hello();

  // Until the audio server answers there is nobody recording to report;
  // each tick tries again, so a server started later is picked up.
  std::unique_ptr<ostrel::coreaudio::AudioSystem> system;
  auto scan = [&] {
    if (!system) {
      auto connected = ostrel::coreaudio::systemAudioSystem();
      if (!connected) return;
      system = std::move(*connected);
      // The listener only wakes the scanning thread; its result is not needed.
      system->addProcessListListener([] { schedule->listChanged(); });
    }
    monitor.scan(*system);
  };
  scan();
  schedule->run(scan);
  return 0;
}
