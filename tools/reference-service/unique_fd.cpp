#include "tools/reference-service/unique_fd.h"

#include <unistd.h>

namespace ostrel::refsvc {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  close();
}

bool UniqueFd::close() {
  if (fd_ < 0) return true;
  const int fd = std::exchange(fd_, -1);
  return ::close(fd) == 0;
}

}  // namespace ostrel::refsvc
