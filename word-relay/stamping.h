#pragma once

#include <string>

#include "platform/appkit/workspace.h"
#include "word-relay/relay_output.h"

// Writing the service's identifiers into a document's custom properties.
namespace ostrel::word {

struct StampRequest {
  std::string path;
  std::string documentID;
  std::string versionID;
  std::string matterID;
  std::string sessionID;  // empty: the property is removed
};

// The stamping script with every value escaped into its place.
std::string stampingScript(const StampRequest& request);

Outcome cmdSetStamp(const Workspace& workspace, const StampRequest& request);

}  // namespace ostrel::word
