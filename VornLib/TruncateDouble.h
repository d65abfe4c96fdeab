// Truncation toward zero of MATLAB doubles into the integers that commands
// and records use, without the undefined behaviour of converting a NaN, an
// infinity or an out-of-range value with a plain cast.
//
// Threads: pure functions, callable from any thread.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace vorn {

// v truncated toward zero, or none when v is NaN, infinite or does not fit
// a signed 32-bit integer after truncation.
inline std::optional<int32_t> TruncToInt32(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  double t = std::trunc(v);
  if (t < -2147483648.0 || t > 2147483647.0) return std::nullopt;
  return static_cast<int32_t>(t);
}

// v truncated toward zero as the 32 bits of a record field: negative values
// down to -2^31 keep their two's complement bits, positive values go up to
// 2^32 - 1. None for NaN, infinities and anything outside that range.
inline std::optional<uint32_t> TruncToU32Bits(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  double t = std::trunc(v);
  if (t < -2147483648.0 || t > 4294967295.0) return std::nullopt;
  if (t < 0) return static_cast<uint32_t>(static_cast<int64_t>(t));
  return static_cast<uint32_t>(t);
}

// v truncated toward zero and clamped to int's range; NaN gives nanValue.
// For look-ups (electrode numbers, selections, operator ids) where any value
// outside the valid range simply finds nothing.
inline int SaturatingTrunc(double v, int nanValue) {
  if (std::isnan(v)) return nanValue;
  if (v <= static_cast<double>(std::numeric_limits<int>::min())) {
    return std::numeric_limits<int>::min();
  }
  if (v >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  return static_cast<int>(std::trunc(v));
}

}  // namespace vorn
