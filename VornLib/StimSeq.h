// StimSeq: one electrode's user-defined stimulation sequence (the segments
// of one cycle, its period, its number of cycles and the action that tells
// the instrument when to apply it), and StimSeqMap, the sequences of one
// 'stimseq' call keyed by zero-based electrode.
//
// Plain data used on one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "StimSegment.h"

namespace vorn {

// Action words (stim header word bits 31..28) by action index.
enum StimAction : int {
  STIM_ACTION_IMMED = 0,     // "immed"
  STIM_ACTION_CURCYC = 1,    // "curcyc"
  STIM_ACTION_ALLCYC = 2,    // "allcyc"
  STIM_ACTION_TRIGGER = 3,   // "trigger"
  STIM_ACTION_AT_TIME = 4,   // "at-time"
};
constexpr int kStimActionCount = 5;
constexpr uint32_t kInvalidStimAction = 0xFFFFFFFFu;
// The action word of an index, or kInvalidStimAction.
uint32_t StimActionWord(int actionIndex);
// The action index of a name ("immed", "curcyc", "allcyc", "trigger",
// "at-time"; exact and case-sensitive), or -1.
int StimActionIndex(const char* name);

// A packet's size byte holds at most 255 words: 7 of packet header, the
// stim header word, then the segments.
constexpr size_t kMaxStimSeqSegments = 247;

class StimSeq {
 public:
  StimSeq() = default;
  StimSeq(uint32_t period, uint32_t repeats, int actionIndex);

  // The stim header word, then one word per segment. An invalid action
  // gives an empty list (nothing can be sent for it).
  std::vector<uint32_t> GetWords() const;

  uint32_t mAction = 0;
  uint32_t mPeriod = 0;    // samples; carried modulo 65536
  uint32_t mRepeats = 0;   // cycles; carried modulo 4096
  std::vector<StimSegment> mSegments;
};

class StimSeqMap {
 public:
  // The electrode's sequence becomes a new one; earlier segments are dropped.
  void SetSequence(uint32_t electrode, uint32_t period, uint32_t repeats, int actionIndex);
  // Appends a segment to the electrode's sequence; nothing without one.
  void AddSegment(uint32_t electrode, uint16_t length, uint32_t ampl, bool pol, bool enable,
                  bool ampSelect, uint32_t delay, bool fs);
  // The electrode's words, or empty without a sequence.
  std::vector<uint32_t> GetWords(uint32_t electrode) const;
  // Electrodes in ascending order.
  std::vector<uint32_t> GetElectrodes() const;
  // The largest period x repeats in samples, at least 0, computed in 64 bits
  // and clamped to the 32-bit range.
  int32_t GetMaxDuration() const;
  // Segments of the electrode's sequence (0 without one).
  size_t GetSegmentCount(uint32_t electrode) const;
  bool Empty() const { return mSequences.empty(); }

 private:
  std::map<uint32_t, StimSeq> mSequences;
};

}  // namespace vorn
