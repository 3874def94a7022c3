#include "drive/shared/host_link.h"

namespace ostrel::drive {

xpc::Interface DriveHostXPC::interface() {
  return {protocolName, {{accessTokenWithReply, {0, true}}, {openURL, {1, false}}}};
}

xpc::Interface DriveExtensionXPC::interface() {
  return {protocolName,
          {{attachWithReply, {0, true}}, {updateTokenExpiresAt, {2, false}}, {signalChangedEnumerators, {0, false}}}};
}

}  // namespace ostrel::drive
