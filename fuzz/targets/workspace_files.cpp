// The workspace stand-in's files: activation lines, application records and
// open answers. An activation that reads goes back out as the same line.

#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "fuzz/fuzz_target.h"
#include "platform/appkit/workspace_files_linux.h"

using namespace ostrel;
using namespace ostrel::appkit_linux;

namespace {

// The bytes as a file, without touching the disk.
struct MemoryFile {
  explicit MemoryFile(std::string_view bytes) : fd(::memfd_create("fuzz", MFD_CLOEXEC)) {
    if (fd >= 0 && ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      ::close(fd);
      fd = -1;
    }
  }
  ~MemoryFile() {
    if (fd >= 0) ::close(fd);
  }
  std::filesystem::path path() const { return "/proc/self/fd/" + std::to_string(fd); }
  int fd;
};

}  // namespace

FUZZ_TARGET(workspace_files) {
  if (const auto activation = parseActivation(input)) {
    const auto line = activationLine(*activation);
    std::string_view text(line);
    if (text.ends_with('\n')) text.remove_suffix(1);
    const auto again = parseActivation(text);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *activation);
  }
  const MemoryFile file(input);
  if (file.fd < 0) return;
  (void)readApplications(file.path());
  if (const auto application = readApplication(file.path())) (void)applicationJSON(*application);
  (void)readOpenAnswer(file.path());
}
