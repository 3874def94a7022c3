// mic-watch: reports, as JSON lines, which processes start and stop taking
// audio input. Runs until SIGINT or SIGTERM.
#include <chrono>
#include <cstdio>
#include <memory>

#include "mic-watch/event_lines.h"
#include "mic-watch/process_monitor.h"
#include "mic-watch/process_names.h"
#include "mic-watch/reconnect_backoff.h"
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

  // Until the audio server answers there is nobody recording to report.
  // Scans try to reach it again, less often the longer it stays away, so a
  // server started (or started again) later is picked up.
  std::unique_ptr<ostrel::coreaudio::AudioSystem> system;
  ReconnectBackoff reconnect(std::chrono::seconds(8));
  auto scan = [&] {
    if (!system) {
      const auto now = ReconnectBackoff::Clock::now();
      if (!reconnect.due(now)) return;
      auto connected = ostrel::coreaudio::systemAudioSystem();
      if (!connected) return reconnect.failed(now);
      reconnect.succeeded();
      system = std::move(*connected);
      // The listener only wakes the scanning thread; its result is not needed.
      system->addProcessListListener([] { schedule->listChanged(); });
    }
    if (!monitor.scan(*system)) {
      system.reset();
      reconnect.failed(ReconnectBackoff::Clock::now());
    }
  };
  scan();
  schedule->run(scan);
  return 0;
}
