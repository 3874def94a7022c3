#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

#include "platform/fileprovider/observers.h"
#include "platform/fileprovider/replicated_extension.h"
#include "platform/foundation/log.h"

namespace ostrel::fileprovider {

// Follows the working set of one domain: each signal asks the working-set
// enumerator for the changes since the stored sync anchor, batch after batch
// while more are coming, and hands them on. Signals that arrive during a round
// fold into one more round. An anchor the extension no longer accepts means
// everything known may be stale: `forgetAll` runs and a fresh anchor is taken.
class WorkingSetFollower {
 public:
  struct Sink {
    std::function<void(std::vector<ItemPtr> updated, std::vector<ItemIdentifier> deleted)> applyChanges;
    std::function<void()> forgetAll;
    // A round of changes went through: the service answers.
    std::function<void()> reachable;
  };

  WorkingSetFollower(std::shared_ptr<ReplicatedExtension> extension, Sink sink);
  ~WorkingSetFollower();  // ends the round in progress and waits for the thread
  WorkingSetFollower(const WorkingSetFollower&) = delete;
  WorkingSetFollower& operator=(const WorkingSetFollower&) = delete;

  void signal();
  // Drops the stored anchor: the next round starts from the current one.
  void reset();

 private:
  void run(std::stop_token stop);
  bool followChanges(Enumerator& enumerator, std::stop_token stop);
  std::optional<SyncAnchor> currentAnchor(Enumerator& enumerator, std::stop_token stop);

  const std::shared_ptr<ReplicatedExtension> extension_;
  const Sink sink_;
  const Logger log_{"local.ostrel.fileproviderd", "working-set"};

  std::mutex mutex_;  // guards the two below
  std::condition_variable_any wake_;
  bool signalled_ = false;
  bool resetRequested_ = false;

  std::optional<SyncAnchor> anchor_;  // the follower thread's own
  std::jthread thread_;               // last: starts after everything above exists
};

}  // namespace ostrel::fileprovider
