#include <pthread.h>
#include <signal.h>

#include <thread>

#include "platform/foundation/termination.h"

namespace ostrel {

void watchTerminationSignals(std::function<void(int signal)> onSignal) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // Detached: it lives as long as the process, waiting for the next signal.
  std::thread([set, onSignal = std::move(onSignal)] {
    while (true) {
      int signal = 0;
      if (sigwait(&set, &signal) == 0) onSignal(signal);
    }
  }).detach();
}

}  // namespace ostrel
