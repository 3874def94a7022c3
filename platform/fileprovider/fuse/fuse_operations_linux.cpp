#include "platform/fileprovider/fuse/fuse_operations_linux.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/fileprovider/fuse/domain_file_system.h"
#include "platform/fileprovider/fuse/request_dispatcher.h"

namespace ostrel::fileprovider {

namespace {

MountContext& context(fuse_req_t req) {
  return *static_cast<MountContext*>(fuse_req_userdata(req));
}

DomainFileSystem& fileSystem(fuse_req_t req) {
  return context(req).fileSystem;
}

// What an interrupt of each deferred request stops, by a number: the kernel
// may interrupt a request at any moment up to its reply, and after it too.
class Interrupts {
 public:
  std::pair<uint64_t, std::stop_token> open() {
    std::lock_guard lock(mutex_);
    const uint64_t id = ++next_;
    return {id, requests_[id].get_token()};
  }
  void interrupt(uint64_t id) {
    std::lock_guard lock(mutex_);
    if (auto found = requests_.find(id); found != requests_.end()) found->second.request_stop();
  }
  void close(uint64_t id) {
    std::lock_guard lock(mutex_);
    requests_.erase(id);
  }

 private:
  std::mutex mutex_;
  uint64_t next_ = 0;
  std::map<uint64_t, std::stop_source> requests_;
};

Interrupts& interrupts() {
  static auto* registry = new Interrupts;  // never destroyed: callbacks may come until the process ends
  return *registry;
}

void interrupted(fuse_req_t, void* data) {
  interrupts().interrupt(reinterpret_cast<uintptr_t>(data));
}

// Serves the request off the loop's threads; an interrupt of the request
// ends what it waits for (EINTR). `work` replies, and the request is not
// touched after that.
template <class Work>
void deferred(fuse_req_t req, Work work) {
  auto [id, token] = interrupts().open();
  fuse_req_interrupt_func(req, interrupted, reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
  context(req).requests.post([id, token, work = std::move(work)]() mutable {
    {
      RequestScope scope(token);
      work();
    }
    interrupts().close(id);
  });
}

void replyEntry(fuse_req_t req, const DomainFileSystem::Entry& entry) {
  fuse_entry_param param{};
  param.ino = entry.inode;
  param.attr = entry.attributes;
  auto& fs = fileSystem(req);
  param.attr_timeout = param.entry_timeout = fs.options().cacheSeconds;
  // The kernel did not take the entry (the request was interrupted): give it back.
  // A reply frees the request, so nothing is read from it afterwards.
  if (fuse_reply_entry(req, &param) != 0) fs.forget(entry.inode, 1);
}

void replyAttributes(fuse_req_t req, const FsResult<struct stat>& attributes) {
  if (!attributes) {
    fuse_reply_err(req, attributes.error());
    return;
  }
  const double seconds = fileSystem(req).options().cacheSeconds;
  fuse_reply_attr(req, &*attributes, seconds);
}

void init(void*, fuse_conn_info* connection) {
  // Truncating opens arrive as one request, so that the staged copy starts empty.
  if (connection->capable & FUSE_CAP_ATOMIC_O_TRUNC) connection->want |= FUSE_CAP_ATOMIC_O_TRUNC;
  connection->want &= ~FUSE_CAP_WRITEBACK_CACHE;
  // Listings hand the kernel each entry's attributes: `ls -l` needs no lookup per name.
  if (connection->capable & FUSE_CAP_READDIRPLUS) connection->want |= FUSE_CAP_READDIRPLUS;
  // Large reads ahead: a document is read from start to end.
  connection->max_readahead = 1 << 20;
  // Reads go from the contents file to the kernel by splice, without a copy here.
  if (connection->capable & FUSE_CAP_SPLICE_WRITE) {
    connection->want |= FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE;
  }
}

void lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  auto answer = [req, parent, name = std::string(name)] {
    auto entry = fileSystem(req).lookup(parent, name);
    if (!entry) {
      fuse_reply_err(req, entry.error());
      return;
    }
    replyEntry(req, *entry);
  };
  if (fileSystem(req).isListed(parent)) return answer();
  deferred(req, std::move(answer));
}

void forget(fuse_req_t req, fuse_ino_t inode, uint64_t count) {
  fileSystem(req).forget(inode, count);
  fuse_reply_none(req);
}

void forgetMulti(fuse_req_t req, size_t count, fuse_forget_data* forgets) {
  for (size_t i = 0; i < count; ++i) fileSystem(req).forget(forgets[i].ino, forgets[i].nlookup);
  fuse_reply_none(req);
}

void getattr(fuse_req_t req, fuse_ino_t inode, fuse_file_info*) {
  replyAttributes(req, fileSystem(req).attributes(inode));
}

void setattr(fuse_req_t req, fuse_ino_t inode, struct stat* attributes, int toSet, fuse_file_info* file) {
  // Modes, owners and times are the service's to say; only the size is the user's.
  if (toSet & FUSE_SET_ATTR_SIZE) {
    std::optional<uint64_t> handle;
    if (file) handle = file->fh;
    deferred(req, [req, inode, size = attributes->st_size, handle] {
      replyAttributes(req, fileSystem(req).truncate(inode, size, handle));
    });
    return;
  }
  replyAttributes(req, fileSystem(req).attributes(inode));
}

void opendir(fuse_req_t req, fuse_ino_t inode, fuse_file_info* file) {
  auto answer = [req, inode, file = *file, reader = fuse_req_ctx(req)->pid]() mutable {
    auto& fs = fileSystem(req);
    auto handle = fs.openListing(inode, reader);
    if (!handle) {
      fuse_reply_err(req, handle.error());
      return;
    }
    file.fh = *handle;
    if (fuse_reply_open(req, &file) != 0) fs.closeListing(*handle);
  };
  if (fileSystem(req).isListed(inode)) return answer();
  deferred(req, std::move(answer));
}

// Fills a readdir answer from the open directory's listing; with `plus`, each
// entry comes with its attributes, and counts as a lookup of it.
void replyListing(fuse_req_t req, size_t size, off_t offset, uint64_t handle, bool plus) {
  auto& fs = fileSystem(req);
  auto listing = fs.listing(handle);
  if (!listing) {
    fuse_reply_err(req, EBADF);
    return;
  }
  std::vector<char> buffer(size);
  std::vector<Inode> remembered;
  size_t used = 0;
  for (size_t index = static_cast<size_t>(offset); index < listing->size(); ++index) {
    const auto& entry = (*listing)[index];
    const auto next = static_cast<off_t>(index + 1);
    size_t needed = 0;
    if (!plus) {
      struct stat attributes {};
      attributes.st_ino = entry.inode;
      attributes.st_mode = entry.directory ? S_IFDIR : S_IFREG;
      needed = fuse_add_direntry(req, buffer.data() + used, size - used, entry.name.c_str(), &attributes, next);
    } else {
      fuse_entry_param param{};
      // "." and ".." are not looked up by the kernel: their attributes are enough.
      const bool self = entry.name == "." || entry.name == "..";
      if (self) {
        param.attr.st_ino = entry.inode;
        param.attr.st_mode = S_IFDIR;
      } else {
        auto known = fs.lookupListed(entry.inode);
        if (!known) continue;  // gone since the listing was taken
        param.ino = known->inode;
        param.attr = known->attributes;
        param.attr_timeout = param.entry_timeout = fs.options().cacheSeconds;
      }
      needed = fuse_add_direntry_plus(req, buffer.data() + used, size - used, entry.name.c_str(), &param, next);
      if (!self && needed > size - used) fs.forget(entry.inode, 1);
      if (!self && needed <= size - used) remembered.push_back(entry.inode);
    }
    if (needed > size - used) break;
    used += needed;
  }
  // The kernel did not take the entries (the request was interrupted): nor their lookups.
  if (fuse_reply_buf(req, buffer.data(), used) != 0) {
    for (Inode inode : remembered) fs.forget(inode, 1);
  }
}

void readListing(fuse_req_t req, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info* file, bool plus) {
  auto& fs = fileSystem(req);
  const uint64_t handle = file->fh;
  // The first read after opendir comes with the listing just taken; a later start over reads afresh.
  if (offset == 0 && fs.startsOver(handle)) {
    deferred(req, [req, inode, size, handle, plus] {
      fileSystem(req).refreshListing(handle, inode);
      replyListing(req, size, 0, handle, plus);
    });
    return;
  }
  replyListing(req, size, offset, handle, plus);
}

void readdir(fuse_req_t req, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info* file) {
  readListing(req, inode, size, offset, file, false);
}

void readdirplus(fuse_req_t req, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info* file) {
  readListing(req, inode, size, offset, file, true);
}

void releasedir(fuse_req_t req, fuse_ino_t, fuse_file_info* file) {
  auto& fs = fileSystem(req);
  const uint64_t handle = file->fh;
  fuse_reply_err(req, 0);
  fs.closeListing(handle);
}

void open(fuse_req_t req, fuse_ino_t inode, fuse_file_info* file) {
  deferred(req, [req, inode, file = *file]() mutable {
    auto& fs = fileSystem(req);
    auto handle = fs.open(inode, file.flags);
    if (!handle) {
      fuse_reply_err(req, handle.error());
      return;
    }
    file.fh = *handle;
    file.direct_io = fs.readsDirectly(*handle);
    if (fuse_reply_open(req, &file) != 0) fs.release(*handle);
  });
}

void create(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t, fuse_file_info* file) {
  deferred(req, [req, parent, name = std::string(name), file = *file]() mutable {
    auto& fs = fileSystem(req);
    auto created = fs.create(parent, name, file.flags);
    if (!created) {
      fuse_reply_err(req, created.error());
      return;
    }
    file.fh = created->second;
    fuse_entry_param param{};
    param.ino = created->first.inode;
    param.attr = created->first.attributes;
    param.attr_timeout = param.entry_timeout = fs.options().cacheSeconds;
    if (fuse_reply_create(req, &param, &file) != 0) {
      fs.release(created->second);
      fs.forget(param.ino, 1);
    }
  });
}

void replyRead(fuse_req_t req, uint64_t handle, size_t size, off_t offset) {
  auto range = fileSystem(req).readRange(handle, offset, size);
  if (!range) {
    fuse_reply_err(req, range.error());
    return;
  }
  // libfuse preads the range straight from the file into the reply.
  fuse_bufvec buffer = FUSE_BUFVEC_INIT(range->length);
  buffer.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
  buffer.buf[0].fd = range->descriptor;
  buffer.buf[0].pos = offset;
  fuse_reply_data(req, &buffer, FUSE_BUF_SPLICE_MOVE);
}

void read(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info* file) {
  const uint64_t handle = file->fh;
  // Bytes still arriving are waited for off the loop.
  if (fileSystem(req).readsMayWait(handle)) {
    deferred(req, [req, handle, size, offset] { replyRead(req, handle, size, offset); });
    return;
  }
  replyRead(req, handle, size, offset);
}

void write(fuse_req_t req, fuse_ino_t, const char* data, size_t size, off_t offset, fuse_file_info* file) {
  auto written = fileSystem(req).write(file->fh, data, size, offset);
  if (!written) {
    fuse_reply_err(req, written.error());
    return;
  }
  fuse_reply_write(req, *written);
}

void flush(fuse_req_t req, fuse_ino_t, fuse_file_info*) {
  fuse_reply_err(req, 0);
}

void release(fuse_req_t req, fuse_ino_t, fuse_file_info* file) {
  // Answered first: close(2) does not wait for the release, and sending may take long.
  auto& fs = fileSystem(req);
  const uint64_t handle = file->fh;
  fuse_reply_err(req, 0);
  fs.release(handle);
}

void fsync(fuse_req_t req, fuse_ino_t, int, fuse_file_info*) {
  fuse_reply_err(req, 0);
}

void mkdir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t) {
  deferred(req, [req, parent, name = std::string(name)] {
    auto entry = fileSystem(req).makeDirectory(parent, name);
    if (!entry) {
      fuse_reply_err(req, entry.error());
      return;
    }
    replyEntry(req, *entry);
  });
}

void removeEntry(fuse_req_t req, fuse_ino_t parent, const char* name, bool directory) {
  deferred(req, [req, parent, name = std::string(name), directory, caller = fuse_req_ctx(req)->pid] {
    auto removed = fileSystem(req).remove(parent, name, directory, caller);
    fuse_reply_err(req, removed ? 0 : removed.error());
  });
}

void unlink(fuse_req_t req, fuse_ino_t parent, const char* name) {
  removeEntry(req, parent, name, false);
}

void rmdir(fuse_req_t req, fuse_ino_t parent, const char* name) {
  removeEntry(req, parent, name, true);
}

void rename(fuse_req_t req, fuse_ino_t parent, const char* name, fuse_ino_t newParent, const char* newName,
            unsigned int flags) {
  if (flags & RENAME_EXCHANGE) {
    fuse_reply_err(req, EINVAL);
    return;
  }
  deferred(req, [req, parent, name = std::string(name), newParent, newName = std::string(newName),
                 noReplace = (flags & RENAME_NOREPLACE) != 0] {
    auto renamed = fileSystem(req).rename(parent, name, newParent, newName, noReplace);
    fuse_reply_err(req, renamed ? 0 : renamed.error());
  });
}

// Links have no counterpart at the service.
void symlink(fuse_req_t req, const char*, fuse_ino_t, const char*) {
  fuse_reply_err(req, ENOTSUP);
}

void link(fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) {
  fuse_reply_err(req, ENOTSUP);
}

void getxattr(fuse_req_t req, fuse_ino_t inode, const char* name, size_t size) {
  auto value = fileSystem(req).extendedAttribute(inode, name);
  if (!value) {
    fuse_reply_err(req, value.error());
  } else if (size == 0) {
    fuse_reply_xattr(req, value->size());
  } else if (size < value->size()) {
    fuse_reply_err(req, ERANGE);
  } else {
    fuse_reply_buf(req, value->data(), value->size());
  }
}

void listxattr(fuse_req_t req, fuse_ino_t inode, size_t size) {
  auto names = fileSystem(req).extendedAttributeNames(inode);
  if (!names) {
    fuse_reply_err(req, names.error());
    return;
  }
  std::string packed;
  for (const auto& name : *names) packed.append(name).push_back('\0');
  if (size == 0) {
    fuse_reply_xattr(req, packed.size());
  } else if (size < packed.size()) {
    fuse_reply_err(req, ERANGE);
  } else {
    fuse_reply_buf(req, packed.data(), packed.size());
  }
}

void setxattr(fuse_req_t req, fuse_ino_t, const char*, const char*, size_t, int) {
  fuse_reply_err(req, ENOTSUP);
}

void removexattr(fuse_req_t req, fuse_ino_t, const char*) {
  fuse_reply_err(req, ENOTSUP);
}

fuse_lowlevel_ops makeOperations() {
  fuse_lowlevel_ops ops{};
  ops.init = init;
  ops.lookup = lookup;
  ops.forget = forget;
  ops.forget_multi = forgetMulti;
  ops.getattr = getattr;
  ops.setattr = setattr;
  ops.opendir = opendir;
  ops.readdir = readdir;
  ops.readdirplus = readdirplus;
  ops.releasedir = releasedir;
  ops.open = open;
  ops.create = create;
  ops.read = read;
  ops.write = write;
  ops.flush = flush;
  ops.release = release;
  ops.fsync = fsync;
  ops.mkdir = mkdir;
  ops.unlink = unlink;
  ops.rmdir = rmdir;
  ops.rename = rename;
  ops.symlink = symlink;
  ops.link = link;
  ops.getxattr = getxattr;
  ops.listxattr = listxattr;
  ops.setxattr = setxattr;
  ops.removexattr = removexattr;
  return ops;
}

}  // namespace

const fuse_lowlevel_ops& domainOperations() {
  static const fuse_lowlevel_ops operations = makeOperations();
  return operations;
}

}  // namespace ostrel::fileprovider
