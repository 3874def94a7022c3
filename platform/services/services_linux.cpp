#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <system_error>

#include <asio/post.hpp>

#include "platform/foundation/bundle.h"
#include "platform/services/desktop_entry_linux.h"
#include "platform/services/services.h"
#include "platform/services/services_request_linux.h"

namespace ostrel {

using namespace services_linux;

namespace {

struct Registration {
  std::shared_ptr<ServicesProvider> provider;
  std::string name;
};

// Registration happens on the main thread, as with the framework.
std::vector<Registration>& registrations() {
  static std::vector<Registration> all;
  return all;
}

std::filesystem::path runningProgram() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error);
}

bool writeAtomically(const std::filesystem::path& file, const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  const std::filesystem::path writing = file.string() + ".writing." + std::to_string(::getpid());
  {
    std::ofstream out(writing, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return false;
  }
  std::filesystem::rename(writing, file, error);
  if (error) std::filesystem::remove(writing, error);
  return !error;
}

}  // namespace

// The request came with the process: it is delivered to the first provider
// that offers its message, once, through the main queue like any event.
void registerServicesProvider(asio::io_context& mainQueue, std::shared_ptr<ServicesProvider> provider,
                              std::string name) {
  registrations().push_back({provider, name});
  static bool delivered = false;
  if (delivered) return;
  auto request = requestFromArguments(processArguments());
  if (!request || !provider->entry(request->message)) return;
  delivered = true;
  asio::post(mainQueue, [provider, request = std::move(*request)] {
    std::optional<std::string> error;
    provider->entry(request.message)->method(Pasteboard{}, request.userData, error);
    if (error) std::fprintf(stderr, "Services request %s failed: %s\n", request.message.c_str(), error->c_str());
  });
}

// The Services list of a Linux desktop is the program's desktop entry: one
// action per entry, each starting the program with its request.
void updateDynamicServices() {
  if (registrations().empty()) return;
  const std::string program = runningProgram().string();
  const Bundle& bundle = Bundle::main();
  DesktopEntry entry{.name = bundle.infoString("CFBundleName").value_or(registrations().front().name),
                     .command = {program}};
  for (const auto& registration : registrations()) {
    for (const auto& service : registration.provider->entries()) {
      entry.actions.push_back({service.message, service.menuTitle, {program, serviceOption, service.message}});
    }
  }
  const std::string identifier = bundle.bundleIdentifier().value_or(registrations().front().name);
  const auto file = desktopEntryPath(identifier);
  if (!writeAtomically(file, desktopEntryText(entry))) {
    std::fprintf(stderr, "cannot write the desktop entry %s\n", file.c_str());
  }
}

}  // namespace ostrel
