// Little-endian field access by copying: never cast a pointer into a packet
// buffer. The callers check lengths; these helpers only move bytes.
#pragma once

#include <cstdint>
#include <cstring>

namespace vorn {

inline uint16_t LoadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int16_t LoadI16(const uint8_t* p) { return static_cast<int16_t>(LoadU16(p)); }
inline float LoadF32(const uint8_t* p) {
  uint32_t bits = LoadU32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreI16(uint8_t* p, int16_t v) { StoreU16(p, static_cast<uint16_t>(v)); }
inline void StoreF32(uint8_t* p, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  StoreU32(p, bits);
}

}  // namespace vorn
