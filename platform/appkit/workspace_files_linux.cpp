#include "platform/appkit/workspace_files_linux.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/foundation/json.h"
#include "platform/foundation/uuid.h"

namespace ostrel::appkit_linux {

namespace {

using Json = nlohmann::json;

std::optional<Json> readJSON(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  Json value = Json::parse(text.str(), nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::optional<std::string> stringMember(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<RunningApplication> applicationFrom(const Json& value) {
  if (!value.is_object()) return std::nullopt;
  RunningApplication application;
  application.bundleIdentifier = stringMember(value, "bundle_id");
  application.localizedName = stringMember(value, "name");
  if (auto pid = value.find("pid"); pid != value.end() && pid->is_number_integer()) {
    application.processIdentifier = pid->get<int>();
  }
  if (auto path = stringMember(value, "path")) application.bundleLocation = *path;
  return application;
}

Json toJSON(const RunningApplication& application) {
  Json value = Json::object();
  if (application.bundleIdentifier) value["bundle_id"] = *application.bundleIdentifier;
  if (application.localizedName) value["name"] = *application.localizedName;
  if (application.processIdentifier) value["pid"] = *application.processIdentifier;
  if (application.bundleLocation) value["path"] = application.bundleLocation->string();
  return value;
}

}  // namespace

std::vector<RunningApplication> readApplications(const fs::path& file) {
  std::vector<RunningApplication> applications;
  auto list = readJSON(file);
  if (!list || !list->is_array()) return applications;
  for (const auto& entry : *list) {
    if (auto application = applicationFrom(entry)) applications.push_back(std::move(*application));
  }
  return applications;
}

std::optional<RunningApplication> readApplication(const fs::path& file) {
  auto value = readJSON(file);
  return value ? applicationFrom(*value) : std::nullopt;
}

std::optional<std::optional<RunningApplication>> parseActivation(std::string_view line) {
  Json value = Json::parse(line, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return std::nullopt;
  auto application = value.find("application");
  if (application == value.end()) return std::optional<RunningApplication>();
  return applicationFrom(*application);
}

std::string activationLine(const std::optional<RunningApplication>& application) {
  return ostrel::json::compact(Json{{"application", application ? toJSON(*application) : Json(nullptr)}});
}

std::string applicationJSON(const RunningApplication& application) { return ostrel::json::compact(toJSON(application)); }

std::string openRequestJSON(const std::vector<std::string>& urls, const fs::path& application,
                            const OpenConfiguration& configuration) {
  return ostrel::json::compact(
      Json{{"urls", urls}, {"application", application.string()}, {"activates", configuration.activates}});
}

std::optional<std::expected<void, Error>> readOpenAnswer(const fs::path& file) {
  auto answer = readJSON(file);
  if (!answer || !answer->is_object()) return std::nullopt;
  auto failure = answer->find("error");
  if (failure == answer->end() || failure->is_null()) return std::expected<void, Error>();

  Error error{CocoaError::domain, 0, {}};
  if (failure->is_string()) {
    error.userInfo[localizedDescriptionKey] = failure->get<std::string>();
  } else if (failure->is_object()) {
    if (auto domain = stringMember(*failure, "domain")) error.domain = *domain;
    if (auto code = failure->find("code"); code != failure->end() && code->is_number_integer()) {
      error.code = code->get<long>();
    }
    if (auto description = stringMember(*failure, "description")) error.userInfo[localizedDescriptionKey] = *description;
  }
  return std::unexpected(std::move(error));
}

std::expected<void, Error> writeFileAtomically(const fs::path& file, std::string_view text) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  const fs::path temporary = file.parent_path() / ("." + file.filename().string() + "." + makeUUIDString() + ".part");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      fs::remove(temporary, ec);
      return std::unexpected(POSIXError::make(EIO));
    }
  }
  fs::rename(temporary, file, ec);
  if (ec) {
    fs::remove(temporary, ec);
    return std::unexpected(POSIXError::make(ec.value()));
  }
  return {};
}

std::expected<void, Error> appendLine(const fs::path& file, std::string_view line) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::string text(line);
  text += '\n';
  // The stream is unbuffered so that the line leaves in one write.
  std::ofstream out;
  out.rdbuf()->pubsetbuf(nullptr, 0);
  out.open(file, std::ios::binary | std::ios::app);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) return std::unexpected(POSIXError::make(EIO));
  return {};
}

std::expected<asio::posix::stream_descriptor, Error> watchDirectory(asio::io_context& queue, const fs::path& directory,
                                                                    uint32_t mask) {
  std::error_code created;
  fs::create_directories(directory, created);
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return std::unexpected(POSIXError::make(errno));
  asio::posix::stream_descriptor descriptor(queue);
  asio::error_code assigned;
  descriptor.assign(fd, assigned);
  if (assigned) {
    ::close(fd);
    return std::unexpected(POSIXError::make(assigned.value()));
  }
  if (::inotify_add_watch(fd, directory.c_str(), mask) < 0) return std::unexpected(POSIXError::make(errno));
  return descriptor;
}

}  // namespace ostrel::appkit_linux
