#pragma once

// The generic request routine's decoding half, shared by the operation
// files of DriveAPI. Include in those .cpp files only.

#include <type_traits>

#include "drive/client/drive_api.h"
#include "drive/client/drive_records_decoding.h"
#include "drive/model/drive_log.h"
#include "platform/foundation/json_decoding.h"

namespace ostrel::drive {

template <class T>
DriveResult<T> DriveAPI::send(const Request& request, std::stop_token stop) const {
  auto body = perform(request, std::move(stop));
  if (!body) return std::unexpected(body.error());
  if constexpr (std::is_same_v<T, Empty>) {
    return Empty{};
  } else {
    auto decoded = json::decodeBody<T>(*body);
    if (!decoded) {
      driveLog().fault("undecodable %{public}s: %{public}s",
                       {request.path.empty() ? std::string() : request.path.front(), decoded.error().description()});
      return std::unexpected(FileProviderError::make(FileProviderError::serverUnreachable));
    }
    return std::move(*decoded);
  }
}

}  // namespace ostrel::drive
