#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "drive/client/drive_api.h"
#include "platform/fileprovider/observers.h"
#include "platform/foundation/task.h"

namespace ostrel::drive {

// Lists one container page by page and, for the working set, follows the
// service's change feed. Keeps no items: every answer is one service call
// made in a task of its own. Pages and anchors are the service's cursor and
// anchor strings as UTF-8 bytes, nothing added.
class DriveEnumerator final : public fileprovider::Enumerator {
 public:
  DriveEnumerator(fileprovider::ItemIdentifier container, std::shared_ptr<const DriveAPI> api)
      : container_(std::move(container)), api_(std::move(api)) {}

  void invalidate() override;
  void enumerateItems(std::shared_ptr<fileprovider::EnumerationObserver> observer, fileprovider::Page page) override;
  void enumerateChanges(std::shared_ptr<fileprovider::ChangeObserver> observer,
                        fileprovider::SyncAnchor anchor) override;
  void currentSyncAnchor(std::function<void(std::optional<fileprovider::SyncAnchor>)> completion) override;

  // Tasks started and not cancelled yet.
  size_t taskCount() const;

 private:
  void run(std::function<void(std::stop_token)> body);

  const fileprovider::ItemIdentifier container_;
  const std::shared_ptr<const DriveAPI> api_;
  mutable std::mutex lock_;  // guards tasks_ only
  std::vector<std::shared_ptr<Task>> tasks_;
};

}  // namespace ostrel::drive
