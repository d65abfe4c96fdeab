#include "StimSeq.h"

#include <cstdint>
#include <cstring>

namespace vorn {

namespace {
const char* const kActionNames[kStimActionCount] = {"immed", "curcyc", "allcyc", "trigger",
                                                    "at-time"};
}  // namespace

uint32_t StimActionWord(int actionIndex) {
  if (actionIndex < 0 || actionIndex >= kStimActionCount) return kInvalidStimAction;
  return static_cast<uint32_t>(actionIndex) << kStimActionShift;
}

int StimActionIndex(const char* name) {
  if (name == nullptr) return -1;
  for (int i = 0; i < kStimActionCount; ++i) {
    if (std::strcmp(name, kActionNames[i]) == 0) return i;
  }
  return -1;
}

StimSeq::StimSeq(uint32_t period, uint32_t repeats, int actionIndex)
    : mAction(StimActionWord(actionIndex)), mPeriod(period), mRepeats(repeats) {}

std::vector<uint32_t> StimSeq::GetWords() const {
  std::vector<uint32_t> words;
  if (mAction == kInvalidStimAction) return words;
  words.reserve(1 + mSegments.size());
  words.push_back(StimHeaderWord(mAction, mPeriod, mRepeats));
  for (const StimSegment& s : mSegments) words.push_back(s.Encode());
  return words;
}

void StimSeqMap::SetSequence(uint32_t electrode, uint32_t period, uint32_t repeats,
                             int actionIndex) {
  mSequences[electrode] = StimSeq(period, repeats, actionIndex);
}

void StimSeqMap::AddSegment(uint32_t electrode, uint16_t length, uint32_t ampl, bool pol,
                            bool enable, bool ampSelect, uint32_t delay, bool fs) {
  auto it = mSequences.find(electrode);
  if (it == mSequences.end()) return;
  it->second.mSegments.emplace_back(length, ampl, pol, enable, ampSelect, delay, fs);
}

std::vector<uint32_t> StimSeqMap::GetWords(uint32_t electrode) const {
  auto it = mSequences.find(electrode);
  return it == mSequences.end() ? std::vector<uint32_t>() : it->second.GetWords();
}

std::vector<uint32_t> StimSeqMap::GetElectrodes() const {
  std::vector<uint32_t> electrodes;
  electrodes.reserve(mSequences.size());
  for (const auto& entry : mSequences) electrodes.push_back(entry.first);
  return electrodes;
}

int32_t StimSeqMap::GetMaxDuration() const {
  uint64_t longest = 0;
  for (const auto& entry : mSequences) {
    const uint64_t d = static_cast<uint64_t>(entry.second.mPeriod) * entry.second.mRepeats;
    if (d > longest) longest = d;
  }
  return longest > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(longest);
}

size_t StimSeqMap::GetSegmentCount(uint32_t electrode) const {
  auto it = mSequences.find(electrode);
  return it == mSequences.end() ? 0 : it->second.mSegments.size();
}

}  // namespace vorn
