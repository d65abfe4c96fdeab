// StimParamManager: parses a stim parameter string such as
//   Elect=1,2;Freq=100,50;TL=1000,1000;Dur=0.2,0.1;Amp=10,20
// into one StimParams record per electrode, checks each record against the
// stimulator's limits, and converts a record into its stim words: one stim
// header word (period and pulse count) and the segment words of one pulse on
// the 30 kHz sample grid.
//
// Used on one thread at a time (a 'stim' call makes its own and drops it).
// Diagnostics ("Invalid param: ...", "Warning: realignment needed") go to
// standard error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StimParams.h"
#include "StimSegment.h"

namespace vorn {

class StimParamManager {
 public:
  explicit StimParamManager(const std::string& stimString);
  virtual ~StimParamManager() = default;

  size_t GetCount() const { return mParams.size(); }
  const StimParams& GetParams(size_t i) const { return mParams.at(i); }

  // elect - 1 of record i: the zero-based electrode key.
  uint32_t GetElectrode(size_t i) const;
  // Record i lies within the stimulator's limits (see IsValid in the source).
  bool IsValid(size_t i) const;
  // Every record is valid (true when there are none).
  bool AllValid() const;
  // Period in samples and pulse count of record i, action 0.
  uint32_t GetHeaderWord(size_t i) const;
  // Segment words of one pulse of record i, in output order.
  std::vector<uint32_t> GetSegmentWords(size_t i) const;
  // elect - 1 of every record, in record order.
  std::vector<uint32_t> GetElectrodes() const;
  // The longest train length in whole microseconds (0 for no records),
  // clamped to the 32-bit range.
  int32_t GetMaxTrainLength() const;

  // Tokens of text up to each delimiter: "a,,b" gives a, "", b; a leading
  // delimiter gives an empty first token; a trailing one adds no token; an
  // empty text gives none.
  static std::vector<std::string> Split(const std::string& text, char delimiter);

  // Gap between the two phases of a pulse, us.
  static constexpr double kInterphaseUs = 66.67;

 private:
  void Parse();
  void Store(const std::string& key, const std::string& value, StimParams& record) const;

  double mInterphase = kInterphaseUs;
  std::string mStimString;
  std::vector<StimParams> mParams;
};

}  // namespace vorn
