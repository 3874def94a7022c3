#include "mic-watch/process_names.h"

#include <fstream>

namespace ostrel::micwatch {

std::optional<std::string> procName(std::int32_t pid) {
  if (pid <= 0) return std::nullopt;
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!comm || !std::getline(comm, name) || name.empty()) return std::nullopt;
  // Bytes past a zero byte are not part of the name.
  name = name.substr(0, name.find('\0'));
  if (name.empty()) return std::nullopt;
  return name;
}

}  // namespace ostrel::micwatch
