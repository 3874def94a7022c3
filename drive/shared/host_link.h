#pragma once

#include "platform/xpc/interface.h"

namespace ostrel::drive {

// The file-provider service the extension offers on every item; the helper
// looks it up by this name on the domain's root.
inline constexpr const char* driveServiceName = "local.ostrel.drive.host";

// OstrelDriveHostXPC: implemented by the host (the helper), called by the extension.
//   accessTokenWithReply:   reply (token text, expiry as seconds since 1970)
//   openURL:                (address)
// OstrelDriveExtensionXPC: implemented by the extension, called by the host.
//   attachWithReply:        reply (the extension's bundle identifier)
//   updateToken:expiresAt:  (token text, expiry as seconds since 1970)
//   signalChangedEnumerators
namespace DriveHostXPC {
inline constexpr const char* protocolName = "OstrelDriveHostXPC";
inline constexpr const char* accessTokenWithReply = "accessTokenWithReply:";
inline constexpr const char* openURL = "openURL:";
xpc::Interface interface();
}  // namespace DriveHostXPC

namespace DriveExtensionXPC {
inline constexpr const char* protocolName = "OstrelDriveExtensionXPC";
inline constexpr const char* attachWithReply = "attachWithReply:";
inline constexpr const char* updateTokenExpiresAt = "updateToken:expiresAt:";
inline constexpr const char* signalChangedEnumerators = "signalChangedEnumerators";
xpc::Interface interface();
}  // namespace DriveExtensionXPC

}  // namespace ostrel::drive
