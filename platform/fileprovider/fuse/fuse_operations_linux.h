#pragma once

#define FUSE_USE_VERSION 31
#include <fuse_lowlevel.h>

namespace ostrel::fileprovider {

class DomainFileSystem;
class RequestDispatcher;

// What each request's user data points to.
struct MountContext {
  DomainFileSystem& fileSystem;
  // Where requests that wait for the extension are served, so that the
  // loop's threads answer what is known at once whatever waits.
  RequestDispatcher& requests;
};

// The low-level operations.
const fuse_lowlevel_ops& domainOperations();

}  // namespace ostrel::fileprovider
