#pragma once

#define FUSE_USE_VERSION 31
#include <fuse_lowlevel.h>

namespace ostrel::fileprovider {

// The low-level operations; each request's user data is the DomainFileSystem.
const fuse_lowlevel_ops& domainOperations();

}  // namespace ostrel::fileprovider
