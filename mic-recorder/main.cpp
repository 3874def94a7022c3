// mic-recorder: records the microphone and streams it as 16 kHz mono 16-bit
// PCM on standard output, with JSON state lines on standard error. Runs
// until SIGINT or SIGTERM, or until the reader closes standard output; when
// the device or the audio server goes away it says so and exits with 1.
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

#include "mic-recorder/mic_capture.h"
#include "mic-recorder/pcm_output.h"
#include "mic-recorder/status_lines.h"
#include "platform/coreaudio/audio_system.h"
#include "platform/foundation/termination.h"

namespace {

// Reached from the signal watcher and the PCM writer; lives for the whole process.
struct Ending {
  std::mutex mutex;
  std::condition_variable changed;
  bool requested = false;

  void request() {
    std::lock_guard lock(mutex);
    requested = true;
    changed.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return requested; });
  }
};

Ending* const ending = new Ending();

// Eight seconds of audio between the audio thread and a slow reader.
constexpr std::size_t pcmRingSamples = 16000 * 8;

}  // namespace

int main() {
  using namespace ostrel::mic;
  // A reader that goes away shows up as a failed write, handled below.
  std::signal(SIGPIPE, SIG_IGN);
  ostrel::watchTerminationSignals([](int) { ending->request(); });

  StreamStatusLines status(stderr);
  auto system = ostrel::coreaudio::systemAudioSystem();
  if (!system) {
    status.write(errorLine("audio server unreachable: " + system.error().localizedDescription()));
    return 1;
  }
  // The PCM reader closing its end ends the program as a stop signal does.
  PcmPipe pcm(STDOUT_FILENO, pcmRingSamples, [] { ending->request(); });
  MicCapture mic(
      **system, status, pcm, [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); },
      [] { ending->request(); });
  if (!mic.start()) return 1;

  ending->wait();
  mic.stop();
  pcm.finish();
  if (const auto lost = mic.lossNote()) {
    status.write(errorLine(*lost));
    return 1;
  }
  status.write(stopLine());
  return 0;
}
