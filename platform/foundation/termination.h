#pragma once

#include <functional>

namespace ostrel {

// SIGINT and SIGTERM for long-running programs. Call first thing in main,
// before any thread starts: it blocks both signals in the calling thread (and
// so in every thread started later) and starts a watcher thread that calls
// `onSignal` with the signal number, on that thread, for each one that
// arrives. The callback typically releases what the program holds and
// calls std::exit(0) or wakes the main loop.
void watchTerminationSignals(std::function<void(int signal)> onSignal);

}  // namespace ostrel
