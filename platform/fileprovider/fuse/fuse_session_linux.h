#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fileprovider/fuse/fuse_operations_linux.h"
#include "platform/fileprovider/fuse/item_tree.h"
#include "platform/fileprovider/fuse/request_dispatcher.h"
#include "platform/foundation/error.h"

namespace ostrel::fileprovider {

class DomainFileSystem;

// The one owner of a mounted FUSE session and the thread that serves it.
// Dropping it ends the request threads, unmounts, and lets go of the session.
class FuseSession {
 public:
  static std::expected<std::unique_ptr<FuseSession>, Error> start(DomainFileSystem& fileSystem,
                                                                 const std::filesystem::path& mountPoint,
                                                                 const std::string& name);
  ~FuseSession();
  FuseSession(const FuseSession&) = delete;
  FuseSession& operator=(const FuseSession&) = delete;

  // Makes the kernel drop entries and data it may have cached. Never called
  // from a request thread: the kernel may wait for that very request.
  void invalidate(const std::vector<Invalidation>& invalidations);

 private:
  FuseSession(DomainFileSystem& fileSystem, std::filesystem::path mountPoint);
  void stop();

  // Requests served off the loop; they end before the session goes.
  RequestDispatcher requests_;
  MountContext context_;
  fuse_session* session_ = nullptr;
  std::filesystem::path mountPoint_;
  std::thread loop_;
  std::mutex mutex_;
  bool stopped_ = false;
};

}  // namespace ostrel::fileprovider
