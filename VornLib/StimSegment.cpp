#include "StimSegment.h"

namespace vorn {

namespace {
constexpr uint32_t kLengthShift = 16;
constexpr uint32_t kAmpSelectBit = 0x8000u;
constexpr uint32_t kFsBit = 0x4000u;
constexpr uint32_t kEnableBit = 0x2000u;
constexpr uint32_t kDelayShift = 8;
constexpr uint32_t kPolBit = 0x80u;
}  // namespace

uint32_t StimSegment::Encode() const {
  uint32_t word = static_cast<uint32_t>(length) << kLengthShift;
  if (ampSelect) word |= kAmpSelectBit;
  if (fs) word |= kFsBit;
  if (enable) word |= kEnableBit;
  word |= (delay % kStimSubSteps) << kDelayShift;
  if (pol) word |= kPolBit;
  word |= ampl % kStimAmplSteps;
  return word;
}

}  // namespace vorn
