#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/xpc/interface.h"

namespace ostrel::fileprovider::control {

// How processes reach the file provider daemon: an XPC service by name. Every
// request names its domain and gets one reply whose last argument is an error
// (empty text when the request succeeded).
inline constexpr const char* serviceName = "local.ostrel.fileproviderd";
inline constexpr const char* protocolName = "OstrelFileProviderControl";

//   (domain, item, service name)       reply (endpoint text or "", error)
inline constexpr const char* serviceEndpoint = "serviceEndpointForDomain:item:name:withReply:";
//   (domain, container)                reply (error)
inline constexpr const char* signalEnumerator = "signalEnumeratorForDomain:container:withReply:";
//   (domain, item)                     reply (error)
inline constexpr const char* reimportItems = "reimportItemsForDomain:below:withReply:";
//   (domain, reason, options)          reply (error)
inline constexpr const char* disconnect = "disconnectDomain:reason:options:withReply:";
//   (domain)                           reply (error)
inline constexpr const char* reconnect = "reconnectDomain:withReply:";
//   (domain)                           reply (JSON array of {"name","state"}, error)
// What the domain's mount holds that the service does not have yet, oldest first.
inline constexpr const char* unsentEdits = "unsentEditsForDomain:withReply:";

xpc::Interface interface();

// An error as one argument: compact JSON of domain, code and user info.
std::string encodeError(const std::optional<Error>& error);
// Text that is not an encoded error reads as a generic failure, never as success.
std::optional<Error> decodeError(std::string_view text);

}  // namespace ostrel::fileprovider::control
