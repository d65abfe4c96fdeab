// The instrument the cache fuzzer runs against and its seed corpus is made
// for: the simulator's model (sim/LAYOUT.md) with two front ends of 8
// channels, the second the stim front end (modules 1 and 3, electrode keys
// 0 .. 7 and 32 .. 39; spike processors 2 and 4), 4 analog inputs at module 5
// (keys 10240 .. 10243; "Analog Out 1" is channel 4), fillers 6 .. 33 and
// digital I/O at 34. The default layout's shape with narrower rings: every
// input builds them anew, and the sanitizer's allocator makes that the
// fuzzer's main cost (32 channels and 16 inputs run it at a third the speed).
#pragma once

#include "SimOptions.h"

namespace vorn {
namespace test {

inline vornsim::SimOptions FuzzOptions() {
  vornsim::SimOptions o;
  o.frontEnds = 2;
  o.stimFrontEnd = 2;
  o.channels = 8;
  o.analogInputs = 4;
  return o;
}

}  // namespace test
}  // namespace vorn
