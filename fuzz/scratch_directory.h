#pragma once

// A directory of the fuzzing process's own, for decoders that read their
// input from files: emptied before each input, removed when the process ends.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace ostrel::fuzz {

inline const std::filesystem::path& scratchDirectory() {
  static const std::filesystem::path directory = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchDirectory(), ignored);
    });
    return std::filesystem::path(pattern);
  }();
  return directory;
}

// The scratch directory, emptied, with `name` holding `bytes`.
inline const std::filesystem::path& scratchWith(const std::string& name, std::string_view bytes) {
  const auto& directory = scratchDirectory();
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
  std::ofstream(directory / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return directory;
}

}  // namespace ostrel::fuzz
