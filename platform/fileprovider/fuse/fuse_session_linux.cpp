#include "platform/fileprovider/fuse/fuse_session_linux.h"

#include <fcntl.h>
#include <sys/xattr.h>

#include <cerrno>

#include "platform/fileprovider/fuse/domain_file_system.h"
#include "platform/fileprovider/fuse/fuse_operations_linux.h"

// Declared by the header only for newer API levels; present in every libfuse 3.12 and later.
extern "C" int fuse_session_loop_mt_312(struct fuse_session* se, struct fuse_loop_config* config);

namespace ostrel::fileprovider {

namespace {

Error mountFailed(int code) {
  Error error = POSIXError::make(code);
  error.userInfo[localizedDescriptionKey] = "cannot mount the domain";
  return error;
}

}  // namespace

std::expected<std::unique_ptr<FuseSession>, Error> FuseSession::start(DomainFileSystem& fileSystem,
                                                                       const std::filesystem::path& mountPoint,
                                                                       const std::string& name) {
  std::error_code error;
  std::filesystem::create_directories(mountPoint, error);
  if (error) return std::unexpected(POSIXError::make(error.value()));

  // Commas separate mount options: a name holding one would add options.
  std::string fsname = "ostrel-" + name;
  for (char& c : fsname)
    if (c == ',' || c == '\\') c = '_';
  const std::string options = "fsname=" + fsname + ",subtype=ostrel,default_permissions";
  std::vector<std::string> words = {"ostrel-fileproviderd", "-o", options};
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  const auto& operations = domainOperations();
  std::unique_ptr<FuseSession> owner(new FuseSession(fileSystem, mountPoint));
  fuse_session* session = fuse_session_new(&args, &operations, sizeof operations, &owner->context_);
  fuse_opt_free_args(&args);
  if (!session) return std::unexpected(mountFailed(EINVAL));
  if (fuse_session_mount(session, mountPoint.c_str()) != 0) {
    fuse_session_destroy(session);
    return std::unexpected(mountFailed(EIO));
  }
  owner->session_ = session;
  owner->loop_ = std::thread([session] {
    // The loop configuration is ours to free (the older entry point leaks it).
    fuse_loop_config* config = fuse_loop_cfg_create();
    fuse_session_loop_mt_312(session, config);
    fuse_loop_cfg_destroy(config);
  });
  return owner;
}

FuseSession::FuseSession(DomainFileSystem& fileSystem, std::filesystem::path mountPoint)
    : context_{fileSystem, requests_}, mountPoint_(std::move(mountPoint)) {}

FuseSession::~FuseSession() {
  stop();
}

void FuseSession::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopped_ || !session_) return;
    stopped_ = true;
  }
  fuse_session_exit(session_);
  // A request thread notices the end only when a request arrives. It leaves
  // that request unanswered, so the request is made from a thread of its own,
  // which returns when the unmount below closes the connection.
  std::thread waker([path = mountPoint_] { ::getxattr(path.c_str(), "user.ostrel.wake", nullptr, 0); });
  loop_.join();
  // What is still served off the loop ends now (the file system stopped
  // waiting), while its replies can still reach the kernel.
  requests_.stop();
  fuse_session_unmount(session_);
  waker.join();
  fuse_session_destroy(session_);
}

void FuseSession::invalidate(const std::vector<Invalidation>& invalidations) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  for (const auto& invalidation : invalidations) {
    if (invalidation.name.empty()) {
      fuse_lowlevel_notify_inval_inode(session_, invalidation.inode, 0, 0);
    } else {
      fuse_lowlevel_notify_inval_entry(session_, invalidation.parent, invalidation.name.c_str(),
                                       invalidation.name.size());
    }
  }
}

}  // namespace ostrel::fileprovider
