// Byte order in one place: .dbf integers are little-endian, .fpt integers big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vfp::bytes {

inline std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}
inline std::uint64_t le64(const std::uint8_t* p) {
  return std::uint64_t(le32(p)) | (std::uint64_t(le32(p + 4)) << 32);
}
inline std::uint16_t be16(const std::uint8_t* p) { return std::uint16_t((p[0] << 8) | p[1]); }
inline std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         std::uint32_t(p[3]);
}
inline std::uint64_t be64(const std::uint8_t* p) {
  return (std::uint64_t(be32(p)) << 32) | std::uint64_t(be32(p + 4));
}

inline void putLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
inline void putLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
inline void putLe64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
inline void putBe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v >> 8);
  p[1] = std::uint8_t(v);
}
inline void putBe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (24 - 8 * i));
}
inline void putBe64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = std::uint8_t(v >> (56 - 8 * i));
}

// Little-endian numbers of n bytes (n at most 8), as index entries and property ids pack them.
inline std::uint64_t leN(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t(p[i]) << (8 * i);
  return v;
}
inline void putLeN(std::uint8_t* p, std::uint64_t v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

inline double leDouble(const std::uint8_t* p) {
  std::uint64_t u = le64(p);
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}
inline void putLeDouble(std::uint8_t* p, double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  putLe64(p, u);
}

}  // namespace vfp::bytes
