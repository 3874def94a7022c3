#include "tools/reference-service/zip_archive.h"

#include <array>
#include <cstdint>

namespace ostrel::refsvc {

namespace {

uint32_t crc32(const std::string& bytes) {
  static const auto table = [] {
    std::array<uint32_t, 256> out{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      out[i] = c;
    }
    return out;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

// 1 January 2024, 12:00, in MS-DOS form.
constexpr uint32_t dosTime = 12 << 11;
constexpr uint32_t dosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;

}  // namespace

std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out;
  std::string directory;
  for (const auto& [name, data] : entries) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t crc = crc32(data);
    const auto size = static_cast<uint32_t>(data.size());
    put32(out, 0x04034b50);
    put16(out, 20);  // version needed
    put16(out, 0);   // flags
    put16(out, 0);   // stored
    put16(out, dosTime);
    put16(out, dosDate);
    put32(out, crc);
    put32(out, size);
    put32(out, size);
    put16(out, static_cast<uint32_t>(name.size()));
    put16(out, 0);
    out += name;
    out += data;

    put32(directory, 0x02014b50);
    put16(directory, 20);  // made by
    put16(directory, 20);  // version needed
    put16(directory, 0);
    put16(directory, 0);
    put16(directory, dosTime);
    put16(directory, dosDate);
    put32(directory, crc);
    put32(directory, size);
    put32(directory, size);
    put16(directory, static_cast<uint32_t>(name.size()));
    put16(directory, 0);  // extra
    put16(directory, 0);  // comment
    put16(directory, 0);  // disk
    put16(directory, 0);  // internal attributes
    put32(directory, 0);  // external attributes
    put32(directory, offset);
    directory += name;
  }
  const auto directoryOffset = static_cast<uint32_t>(out.size());
  out += directory;
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<uint32_t>(entries.size()));
  put16(out, static_cast<uint32_t>(entries.size()));
  put32(out, static_cast<uint32_t>(directory.size()));
  put32(out, directoryOffset);
  put16(out, 0);
  return out;
}

}  // namespace ostrel::refsvc
