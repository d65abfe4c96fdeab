// User-defined stim sequences: header and segment words, electrode order and
// the longest sequence.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "StimSeq.h"

namespace vorn {
namespace {

using Words = std::vector<uint32_t>;

TEST(StimSeqWords, HeaderCarriesActionPeriodAndRepeats) {
  StimSeqMap map;
  map.SetSequence(2, 300, 10, STIM_ACTION_IMMED);
  map.AddSegment(2, 6, 10, false, true, true, 0, false);
  EXPECT_EQ(map.GetWords(2), (Words{0x0012C00A, 0x0006A00A}));

  map.SetSequence(2, 300, 10, STIM_ACTION_TRIGGER);
  EXPECT_EQ(map.GetWords(2), (Words{0x3012C00A}));   // segments were dropped

  // Period and repeats carried modulo 65536 and 4096.
  map.SetSequence(2, 70000, 4097, STIM_ACTION_AT_TIME);
  EXPECT_EQ(map.GetWords(2), (Words{0x40000000u + (4464u << 12) + 1u}));
}

TEST(StimSeqWords, ActionNamesAndWords) {
  EXPECT_EQ(StimActionIndex("at-time"), 4);
  EXPECT_EQ(StimActionIndex("Immed"), -1);
  // An invalid action has no words at all, so nothing can be sent for it.
  EXPECT_TRUE(StimSeq(300, 1, 7).GetWords().empty());
  EXPECT_EQ(StimSeq().GetWords(), (Words{0}));
}

TEST(StimSeqMapTest, SegmentsNeedASequenceAndElectrodesAscend) {
  StimSeqMap map;
  map.AddSegment(4, 1, 1, false, true, true, 0, false);   // no sequence yet: dropped
  EXPECT_TRUE(map.Empty());
  EXPECT_TRUE(map.GetWords(4).empty());

  map.SetSequence(9, 1, 1, 0);
  map.SetSequence(1, 1, 1, 0);
  map.SetSequence(6, 1, 1, 0);
  EXPECT_EQ(map.GetElectrodes(), (std::vector<uint32_t>{1, 6, 9}));
}

TEST(StimSeqMapTest, MaxDurationIsTheLongestPeriodTimesRepeats) {
  StimSeqMap map;
  EXPECT_EQ(map.GetMaxDuration(), 0);
  map.SetSequence(0, 300, 10, 0);     // 3000 samples
  map.SetSequence(1, 6000, 10, 0);    // 60000 samples
  EXPECT_EQ(map.GetMaxDuration(), 60000);
  // The duration uses the whole period, not what the header word carries.
  map.SetSequence(2, 70000, 2, 0);
  EXPECT_EQ(map.GetMaxDuration(), 140000);
  // A product beyond 32 bits clamps instead of overflowing.
  map.SetSequence(3, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
  EXPECT_EQ(map.GetMaxDuration(), 2147483647);
}

}  // namespace
}  // namespace vorn
