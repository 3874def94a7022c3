#pragma once

#include <string>

namespace ostrel::fileprovider {

// NSFileProviderDomain: one registered drive.
struct Domain {
  std::string identifier;
  std::string displayName;
  bool userEnabled = true;
  bool disconnected = false;
};

}  // namespace ostrel::fileprovider
