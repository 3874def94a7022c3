#include "tools/reference-service/ids.h"

#include <uuid/uuid.h>

#include <array>

namespace ostrel::refsvc {

namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int sextet(char c) {
  const size_t at = alphabet.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string randomHex(size_t bytes) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes * 2);
  while (out.size() < bytes * 2) {
    // libuuid draws from the kernel's random source; the version and variant
    // bits sit after the sixth byte, so only the first six bytes are taken.
    uuid_t raw;
    uuid_generate_random(raw);
    for (size_t i = 0; i < 6 && out.size() < bytes * 2; ++i) {
      out += hex[raw[i] >> 4];
      out += hex[raw[i] & 0xF];
    }
  }
  return out;
}

std::string newUuid() {
  uuid_t raw;
  uuid_generate_random(raw);
  std::array<char, 37> text{};
  uuid_unparse_lower(raw, text.data());
  return std::string(text.data());
}

bool isUuid(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !isHexDigit(text[i])) return false;
  }
  return true;
}

std::string lowerASCII(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

std::string base64url(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  uint32_t buffer = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    buffer = (buffer << 8) | c;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += alphabet[(buffer >> bits) & 0x3F];
    }
  }
  if (bits > 0) out += alphabet[(buffer << (6 - bits)) & 0x3F];
  return out;
}

std::optional<std::string> fromBase64url(std::string_view text) {
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    const int value = sextet(c);
    if (value < 0) return std::nullopt;
    buffer = (buffer << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  // Left-over bits must be zero, so that every text has one reading.
  if ((buffer & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

}  // namespace ostrel::refsvc
