// StimSegment: one stretch of constant stimulator output on the 30 kHz
// sample grid, and its 32-bit segment word. Also the stim header word that
// opens every stim packet's word list.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vorn {

// Converts toward zero to a 32-bit integer. Values beyond the range clamp to
// its ends and NaN gives 0, so no input can make the conversion undefined.
inline int32_t TruncateToInt32(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (x <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(x);
}

// Stim header word: bits 31..28 action, 27..12 period in samples (carried
// modulo 65536), 11..0 number of pulses or cycles (carried modulo 4096).
constexpr uint32_t kStimActionShift = 28;
constexpr uint32_t kStimPeriodShift = 12;
constexpr uint32_t kStimPeriodModulo = 65536;
constexpr uint32_t kStimRepeatsModulo = 4096;

inline uint32_t StimHeaderWord(uint32_t action, uint32_t period, uint32_t repeats) {
  return action + (period % kStimPeriodModulo) * (1u << kStimPeriodShift) +
         repeats % kStimRepeatsModulo;
}

// Sub-steps of one sample carried in a segment word, and the amplitude steps.
constexpr uint32_t kStimSubSteps = 32;
constexpr uint32_t kStimAmplSteps = 128;

struct StimSegment {
  uint16_t length = 0;     // samples
  bool ampSelect = true;
  bool fs = false;
  bool enable = false;     // output on
  uint32_t delay = 0;      // sub-step (1/32 sample) at which the output changes
  bool pol = false;        // polarity bit
  uint32_t ampl = 0;       // amplitude steps

  StimSegment() = default;
  StimSegment(uint16_t length_, uint32_t ampl_, bool pol_, bool enable_, bool ampSelect_,
              uint32_t delay_, bool fs_)
      : length(length_),
        ampSelect(ampSelect_),
        fs(fs_),
        enable(enable_),
        delay(delay_),
        pol(pol_),
        ampl(ampl_) {}

  // Bits 31..16 length, 15 ampSelect, 14 fs, 13 enable, 12..8 delay mod 32,
  // 7 pol, 6..0 ampl mod 128.
  uint32_t Encode() const;
};

}  // namespace vorn
