// StimParams: one electrode's biphasic pulse train as a stim parameter
// string describes it. Times in microseconds, amplitudes in amplitude steps.
// A plain record; StimParamManager fills and checks it.
#pragma once

#include <cstdint>

namespace vorn {

struct StimParams {
  int32_t elect = 0;      // electrode number, 1-based ("Elect")
  bool pl = true;         // polarity: true = phase 1 has polarity bit 0 ("PL")
  double tl = 0.0;        // train length, us ("TL")
  double freq = 0.0;      // pulse frequency, Hz ("Freq")
  double anodDur = 0.0;   // phase 2 duration, us ("AnodDur", "Dur")
  double cathDur = 0.0;   // phase 1 duration, us ("CathDur", "Dur")
  double cathAmp = 0.0;   // phase 1 amplitude ("CathAmp", "Amp")
  double anodAmp = 0.0;   // phase 2 amplitude ("AnodAmp", "Amp")
  double td = 0.0;        // delay before the first pulse, us ("TD")
  double fs = 0.0;        // stored only, us ("FS")
};

}  // namespace vorn
