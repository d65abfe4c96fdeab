// 'stimseq': user-defined stimulation sequences, one per electrode.
//
//   vornmex('stimseq', s)
//
// s is a struct array, one element per electrode: elec (1-based), period
// (samples of the 30 kHz clock), repeats, optionally action ('immed',
// 'curcyc', 'allcyc', 'trigger' or 'at-time') and seq, a struct array of
// segments (length, pol, ampl, enable, ampSelect, fs, delay). Every input is
// checked before anything is sent. Like 'stim', the command switches
// "Stim Enable" on when it is off and leaves a switch-off event behind.
//
// Threads: MATLAB's thread; the cache lock is held only inside
// ReadStimEnable (CmdStim.cpp).
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "StimEnableEvent.h"
#include "StimSeq.h"
#include "VornClient.h"
#include "StimSwitch.h"
#include "VornMex.h"

namespace vornmex {

namespace {

constexpr size_t kActionBufferSize = 16;
// What the words carry: 16 bits of period and length, 12 of repeats, 7 of
// amplitude, 5 of sub-step delay.
constexpr double kPeriodLimit = 65536.0;
constexpr double kRepeatsLimit = 4096.0;
constexpr double kLengthLimit = 65536.0;
constexpr double kAmplLimit = 128.0;
constexpr double kDelayLimit = 32.0;
// Electrode numbers whose zero-based key fits an int.
constexpr double kElecLimit = 2147483649.0;

[[noreturn]] void FailUsage() { Fail("usage: vornmex('stimseq', stim_cmd"); }

// A field of element i, or null when the struct has no such field.
const mxArray* Field(const mxArray* s, size_t i, const char* name) {
  return mxGetField(s, static_cast<mwIndex>(i), name);
}

// The field's number. Anything but one real number (text, a matrix, an
// empty value, NaN) raises message.
double Number(const mxArray* value, const char* message) {
  if ((!mxIsNumeric(value) && !mxIsLogical(value)) || mxGetNumberOfElements(value) != 1) {
    Fail("%s", message);
  }
  const double v = mxGetScalar(value);
  if (std::isnan(v)) Fail("%s", message);
  return v;
}

// A number whose truncation lies in [0, limit).
uint32_t Count(const mxArray* value, double limit, const char* message) {
  const double v = Number(value, message);
  if (!(v > -1.0 && v < limit)) Fail("%s", message);
  return static_cast<uint32_t>(vorn::TruncateToInt32(v));
}

int ReadAction(const mxArray* sequences, size_t i) {
  const mxArray* action = Field(sequences, i, "action");
  if (action == nullptr) return vorn::STIM_ACTION_IMMED;
  std::string text;
  const int index = ReadString(action, kActionBufferSize, &text)
                        ? vorn::StimActionIndex(text.c_str())
                        : -1;
  if (index < 0) {
    Fail("invalid action string.  Must be one of 'immed', 'curcyc', 'allcyc', 'trigger', or "
         "'at-time'");
  }
  return index;
}

void ReadSegments(const mxArray* seq, uint32_t electrode, vorn::StimSeqMap* map) {
  if (seq == nullptr || mxIsEmpty(seq)) return;
  if (!mxIsStruct(seq)) Fail("bad seq: must be a struct array of segments");
  const size_t count = mxGetNumberOfElements(seq);
  // The packet's size byte must never wrap.
  if (count > vorn::kMaxStimSeqSegments) {
    Fail("too many segments for electrode %u: %zu (at most %zu)", electrode + 1, count,
         vorn::kMaxStimSeqSegments);
  }
  for (size_t j = 0; j < count; ++j) {
    const mxArray* length = Field(seq, j, "length");
    const mxArray* pol = Field(seq, j, "pol");
    const mxArray* ampl = Field(seq, j, "ampl");
    const mxArray* enable = Field(seq, j, "enable");
    const mxArray* ampSelect = Field(seq, j, "ampSelect");
    const mxArray* fs = Field(seq, j, "fs");
    const mxArray* delay = Field(seq, j, "delay");
    if (length == nullptr) Fail("bad length");
    if (pol == nullptr) Fail("bad pol");
    if (ampl == nullptr) Fail("bad ampl");
    if (enable == nullptr) Fail("bad enable");
    if (ampSelect == nullptr) Fail("bad ampSelect");
    if (fs == nullptr) Fail("bad fs");
    if (delay == nullptr) Fail("delay");

    const uint32_t lengthValue = Count(length, kLengthLimit, "bad length: must be 0 to 65535");
    // pol is truncated before the test (0.5 is 0); the others compare the
    // number itself with 0 (0.5 is on).
    const bool polValue = vorn::TruncateToInt32(Number(pol, "bad pol: must be a number")) != 0;
    const uint32_t amplValue = Count(ampl, kAmplLimit, "bad ampl: must be 0 to 127");
    const bool enableValue = Number(enable, "bad enable: must be a number") != 0.0;
    const bool ampSelectValue = Number(ampSelect, "bad ampSelect: must be a number") != 0.0;
    const bool fsValue = Number(fs, "bad fs: must be a number") != 0.0;
    const uint32_t delayValue = Count(delay, kDelayLimit, "bad delay: must be 0 to 31");
    map->AddSegment(electrode, static_cast<uint16_t>(lengthValue), amplValue, polValue,
                    enableValue, ampSelectValue, delayValue, fsValue);
  }
}

}  // namespace

void CmdStimSeq(int, mxArray*[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 2) FailUsage();
  const mxArray* sequences = prhs[1];
  // No sequence at all would switch stimulation on for nothing.
  if (!mxIsStruct(sequences) || mxGetNumberOfElements(sequences) == 0) FailUsage();

  vorn::StimSeqMap map;
  const size_t count = mxGetNumberOfElements(sequences);
  for (size_t i = 0; i < count; ++i) {
    const int action = ReadAction(sequences, i);
    const mxArray* repeats = Field(sequences, i, "repeats");
    const mxArray* elec = Field(sequences, i, "elec");
    const mxArray* period = Field(sequences, i, "period");
    const mxArray* seq = Field(sequences, i, "seq");
    if (repeats == nullptr) Fail("bad repeats");
    if (elec == nullptr) Fail("bad elec");
    if (period == nullptr) Fail("bad period");

    const uint32_t repeatsValue = Count(repeats, kRepeatsLimit, "bad repeats: must be 0 to 4095");
    const double elecValue = Number(elec, "bad elec: must be an electrode number");
    if (!(elecValue >= 1.0 && elecValue < kElecLimit)) {
      Fail("bad elec: must be an electrode number");
    }
    const uint32_t electrode = static_cast<uint32_t>(vorn::TruncateToInt32(elecValue - 1.0));
    const uint32_t periodValue =
        Count(period, kPeriodLimit, "bad period: must be 0 to 65535 samples");

    map.SetSequence(electrode, periodValue, repeatsValue, action);
    ReadSegments(seq, electrode, &map);
  }

  const StimEnableState state = ReadStimEnable();
  const bool switchedOn = SwitchStimEnableOn(state);
  WhileSwitchedOn(switchedOn, state, [&] {
    const int result = gClient->SendStimSequences(map);
    if (result != 0) FailStimSend(result, switchedOn, state);
    ScheduleStimEnableEvent(switchedOn, state,
                            vorn::StimSeqSwitchOffDelayMs(map.GetMaxDuration()),
                            map.GetElectrodes());
  });
}

}  // namespace vornmex
