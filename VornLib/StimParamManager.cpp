#include "StimParamManager.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#if defined(__GLIBC__)
#include <locale.h>
#endif

namespace vorn {

namespace {

// The stimulator's sample grid: 30 kHz samples of 33.333 us, each divided
// into 32 sub-steps of 1.0417 us. Phase ends are rounded to sub-steps.
constexpr double kSampleUs = 33.333;
constexpr double kSubStepUs = 1.0417;
constexpr double kHalf = 0.5;
constexpr double kSamplesPerSecond = 30000.0;
constexpr double kUsPerMs = 1000.0;
constexpr double kUsPerSecond = 1000000.0;

// Limits a record must keep.
constexpr int32_t kMinElectrode = 1;
constexpr int32_t kMaxElectrode = 512;
constexpr double kMinPhaseUs = 2.0;
// What the stim words can carry: a period of 16 bits, a pulse count of 12
// bits and an amplitude of 7 bits. A value beyond that would be sent
// wrapped (a shorter period, fewer pulses, a different current).
constexpr double kPeriodLimit = 65536.0;
constexpr double kPulseLimit = 4096.0;
constexpr double kAmplLimit = 128.0;

// Like atoi, without undefined behaviour on overflow.
int32_t ParseInt(const std::string& text) {
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Like atof, but always with '.' as the decimal point whatever the host
// application set as its locale.
double ParseReal(const std::string& text) {
#if defined(__GLIBC__)
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (cLocale != static_cast<locale_t>(0)) return strtod_l(text.c_str(), nullptr, cLocale);
#endif
  return std::strtod(text.c_str(), nullptr);
}

StimSegment Segment(int32_t length, int32_t ampl, bool pol, bool enable, bool ampSelect,
                    int32_t delay) {
  return StimSegment(static_cast<uint16_t>(static_cast<uint32_t>(length)),
                     static_cast<uint32_t>(ampl), pol, enable, ampSelect,
                     static_cast<uint32_t>(delay), false);
}

}  // namespace

StimParamManager::StimParamManager(const std::string& stimString) : mStimString(stimString) {
  Parse();
}

std::vector<std::string> StimParamManager::Split(const std::string& text, char delimiter) {
  std::vector<std::string> tokens;
  std::istringstream stream(text);
  std::string token;
  while (std::getline(stream, token, delimiter)) tokens.push_back(token);
  return tokens;
}

void StimParamManager::Parse() {
  std::string text;
  text.reserve(mStimString.size());
  for (char c : mStimString) {
    if (c != ' ') text.push_back(c);
  }

  size_t count = 0;
  for (const std::string& item : Split(text, ';')) {
    const std::vector<std::string> parts = Split(item, '=');
    if (parts.size() < 2) continue;
    const std::string& key = parts[0];
    const std::vector<std::string> values = Split(parts[1], ',');
    // The first item with values fixes the number of electrodes; a single
    // value is never spread over several electrodes.
    if (count == 0) {
      count = values.size();
      mParams.assign(count, StimParams());
    }
    if (values.size() != count) continue;
    for (size_t j = 0; j < count; ++j) Store(key, values[j], mParams[j]);
  }
}

void StimParamManager::Store(const std::string& key, const std::string& value,
                             StimParams& record) const {
  if (key == "Elect") {
    record.elect = ParseInt(value);
  } else if (key == "Freq") {
    record.freq = ParseReal(value);
  } else if (key == "TL") {
    record.tl = ParseReal(value) * kUsPerMs;
  } else if (key == "CathDur") {
    record.cathDur = ParseReal(value) * kUsPerMs;
  } else if (key == "AnodDur") {
    record.anodDur = ParseReal(value) * kUsPerMs;
  } else if (key == "CathAmp") {
    record.cathAmp = ParseReal(value);
  } else if (key == "AnodAmp") {
    record.anodAmp = ParseReal(value);
  } else if (key == "Dur") {
    record.cathDur = ParseReal(value) * kUsPerMs;
    record.anodDur = record.cathDur;
  } else if (key == "Amp") {
    record.cathAmp = ParseReal(value);
    record.anodAmp = record.cathAmp;
  } else if (key == "TD") {
    record.td = ParseReal(value) * kUsPerMs;
  } else if (key == "FS") {
    record.fs = ParseReal(value) * kUsPerMs;
  } else if (key == "PL") {
    record.pl = ParseInt(value) != 0;
  } else {
    std::fprintf(stderr, "Invalid param: %s\n", key.c_str());
  }
}

uint32_t StimParamManager::GetElectrode(size_t i) const {
  return static_cast<uint32_t>(mParams.at(i).elect) - 1u;
}

bool StimParamManager::IsValid(size_t i) const {
  const StimParams& p = mParams.at(i);
  // Written so that NaN fails every check.
  if (!(p.elect >= kMinElectrode && p.elect <= kMaxElectrode)) return false;
  if (!(p.freq > 0.0)) return false;
  if (!(p.tl > 0.0)) return false;
  if (!(p.td >= 0.0)) return false;
  if (!(p.cathDur >= kMinPhaseUs)) return false;
  if (!(p.anodDur >= kMinPhaseUs)) return false;
  // The train delay is counted into every period.
  if (!(kUsPerSecond / p.freq >= p.td + p.anodDur + p.cathDur + kInterphaseUs)) return false;
  // Beyond here: values the stim words cannot carry unchanged.
  if (!(kSamplesPerSecond / p.freq < kPeriodLimit)) return false;
  if (!(p.tl * p.freq * 0.000001 < kPulseLimit)) return false;
  if (!(p.cathAmp > -1.0 && p.cathAmp < kAmplLimit)) return false;
  if (!(p.anodAmp > -1.0 && p.anodAmp < kAmplLimit)) return false;
  return true;
}

bool StimParamManager::AllValid() const {
  for (size_t i = 0; i < mParams.size(); ++i) {
    if (!IsValid(i)) return false;
  }
  return true;
}

uint32_t StimParamManager::GetHeaderWord(size_t i) const {
  const StimParams& p = mParams.at(i);
  const uint32_t period = static_cast<uint32_t>(TruncateToInt32(kSamplesPerSecond / p.freq));
  const uint32_t repeats = static_cast<uint32_t>(TruncateToInt32(p.tl * p.freq * 0.000001));
  return StimHeaderWord(0, period, repeats);
}

std::vector<uint32_t> StimParamManager::GetSegmentWords(size_t i) const {
  const StimParams& p = mParams.at(i);
  const double S = kSampleUs;
  const double U = kSubStepUs;
  const double H = kHalf;
  const double G0 = mInterphase;
  std::vector<StimSegment> segments;

  // pl chooses only the polarity bits: phase 1 is always cathDur/cathAmp.
  const bool pol1 = !p.pl;
  const bool pol2 = !pol1;
  const int32_t amp1 = TruncateToInt32(p.cathAmp);
  const int32_t amp2 = TruncateToInt32(p.anodAmp);

  // The part of phase 1 that spills into its last sample, on the sub-step
  // grid, shortens the interphase gap that follows.
  const double rem1 = std::fmod(p.cathDur, S);
  const double spill1 = std::floor(rem1 / U) * U;
  double gap = G0;
  if (spill1 > 0) gap = G0 + spill1 - S;
  double gapSub = std::floor(std::fmod(gap, S) / U) * U;

  // Phase 2 too short to start inside the gap's last sample: phase 1 is
  // moved to the end of one sample instead.
  bool realign = false;
  if (S - gapSub > p.anodDur) {
    std::fprintf(stderr, "Warning: realignment needed\n");
    realign = true;
  }

  // Train delay.
  if (p.td > 0) {
    const int32_t wholeDelay =
        static_cast<int32_t>(static_cast<uint32_t>(TruncateToInt32(std::floor(p.td / S))) %
                             kStimPeriodModulo);
    if (wholeDelay != 0) segments.push_back(Segment(wholeDelay, 0, false, false, false, 0));
  }

  // Phase 1.
  if (realign) {
    const int32_t start = TruncateToInt32(std::floor((S - p.anodDur) / U + H));
    segments.push_back(Segment(1, amp1, pol1, true, true, start));
    gap = G0;
    gapSub = std::floor(std::fmod(G0, S) / U) * U;
  } else {
    const int32_t whole1 = TruncateToInt32(p.cathDur / S);
    const int32_t sub1 = TruncateToInt32(rem1 / U);
    if (whole1 > 0) segments.push_back(Segment(whole1, amp1, pol1, true, true, 0));
    if (sub1 > 0) segments.push_back(Segment(1, amp1, pol1, false, true, sub1));
  }

  // Interphase gap; where it ends inside a sample, phase 2 starts there.
  const int32_t wholeGap = TruncateToInt32(gap / S);
  const int32_t subGap = TruncateToInt32(gapSub / U);
  int32_t usedGapDelay = 0;
  if (wholeGap > 0) segments.push_back(Segment(wholeGap, 0, false, true, true, 0));
  if (wholeGap >= 0 && subGap > 0) {
    segments.push_back(Segment(1, amp2, pol2, true, true, subGap));
    usedGapDelay = subGap;
  }

  // Phase 2, less what the gap's last sample already covered; its end is
  // rounded to the nearest sub-step.
  double rest2 = p.anodDur;
  if (usedGapDelay > 0) rest2 = p.anodDur - (32 - usedGapDelay) * U;
  const double rem2 = std::fmod(rest2, S);
  int32_t whole2 = TruncateToInt32(std::floor(rest2 / S));
  int32_t sub2 = TruncateToInt32(std::floor(rem2 / U + H));
  if (sub2 < 0) {
    whole2 = whole2 - 1;
    sub2 = sub2 + 32;
  }
  if (whole2 > 0) {
    segments.push_back(Segment(whole2, amp2, pol2, true, true, 0));
    if (sub2 > 0) segments.push_back(Segment(1, amp2, pol2, false, true, sub2));
  } else if (whole2 == 0 && sub2 > 0) {
    segments.push_back(Segment(1, amp2, pol2, false, true, sub2));
  }

  std::vector<uint32_t> words;
  words.reserve(segments.size());
  for (const StimSegment& s : segments) words.push_back(s.Encode());
  return words;
}

std::vector<uint32_t> StimParamManager::GetElectrodes() const {
  std::vector<uint32_t> electrodes;
  electrodes.reserve(mParams.size());
  for (size_t i = 0; i < mParams.size(); ++i) electrodes.push_back(GetElectrode(i));
  return electrodes;
}

int32_t StimParamManager::GetMaxTrainLength() const {
  int32_t m = 0;
  for (const StimParams& p : mParams) {
    if (m < p.tl) m = TruncateToInt32(p.tl);
  }
  return m;
}

}  // namespace vorn
