// Stim parameter strings: splitting, parsing, validation and the stim words
// of a pulse train.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "StimParamManager.h"
#include "StimSegment.h"

namespace vorn {
namespace {

using Words = std::vector<uint32_t>;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const char* const kBasic =
    "Elect=1;Freq=100;TL=1000;CathDur=0.2;AnodDur=0.2;CathAmp=10;AnodAmp=10";

// Parses a string and returns the words of record 0, with the text the
// parse and conversion wrote to standard error.
Words SegmentWordsOf(const std::string& text, std::string* diagnostics = nullptr) {
  CaptureStderr();
  StimParamManager m(text);
  Words words = m.GetCount() > 0 ? m.GetSegmentWords(0) : Words();
  const std::string err = GetCapturedStderr();
  if (diagnostics) *diagnostics = err;
  return words;
}

TEST(StimSplit, FollowsStreamTokenRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(StimParamManager::Split("a,b,c", ','), (V{"a", "b", "c"}));
  EXPECT_EQ(StimParamManager::Split(",a", ','), (V{"", "a"}));
  EXPECT_EQ(StimParamManager::Split("a,,b", ','), (V{"a", "", "b"}));
  EXPECT_EQ(StimParamManager::Split("a,", ','), (V{"a"}));
  EXPECT_EQ(StimParamManager::Split("", ','), V{});
}

TEST(StimSegmentWord, PacksEveryField) {
  EXPECT_EQ(StimSegment(6, 10, false, true, true, 0, false).Encode(), 0x0006A00Au);
  EXPECT_EQ(StimSegment(0xFFFF, 127, true, true, true, 31, true).Encode(), 0xFFFFFFFFu);
  // Delay carried modulo 32, amplitude modulo 128.
  EXPECT_EQ(StimSegment(1, 130, false, false, false, 33, false).Encode(), 0x00010102u);
  // A default segment has only ampSelect set.
  EXPECT_EQ(StimSegment().Encode(), 0x00008000u);
}

TEST(StimParse, BasicStringGivesOneValidRecordAndItsWords) {
  StimParamManager m(kBasic);
  ASSERT_EQ(m.GetCount(), 1u);
  EXPECT_TRUE(m.IsValid(0));
  EXPECT_EQ(m.GetElectrode(0), 0u);
  EXPECT_EQ(m.GetHeaderWord(0), 0x0012C064u);   // 300 samples, 100 pulses
  EXPECT_EQ(m.GetSegmentWords(0), (Words{0x0006A00A, 0x0002A000, 0x0006A08A}));
  EXPECT_EQ(m.GetMaxTrainLength(), 1000000);
}

TEST(StimParse, PolarityZeroSwapsOnlyThePolarityBits) {
  EXPECT_EQ(SegmentWordsOf(std::string(kBasic) + ";PL=0"),
            (Words{0x0006A08A, 0x0002A000, 0x0006A00A}));
  // Phase 1 keeps cathode duration and amplitude whatever the polarity.
  EXPECT_EQ(SegmentWordsOf("Elect=1;Freq=100;TL=10;CathDur=0.2;AnodDur=0.05;"
                           "CathAmp=3;AnodAmp=9;PL=0"),
            (Words{0x0006A083, 0x0002A000, 0x0001A009, 0x00019009}));
}

TEST(StimParse, FirstItemWithValuesFixesTheElectrodeCount) {
  StimParamManager one("Elect=1,2;Freq=100");
  ASSERT_EQ(one.GetCount(), 2u);
  // A single value is never spread over both electrodes.
  EXPECT_EQ(one.GetParams(0).freq, 0.0);
  EXPECT_EQ(one.GetParams(1).freq, 0.0);
  EXPECT_FALSE(one.IsValid(0));
  EXPECT_FALSE(one.AllValid());

  StimParamManager two("Elect=1,2;Freq=100,200");
  EXPECT_EQ(two.GetParams(0).freq, 100.0);
  EXPECT_EQ(two.GetParams(1).freq, 200.0);
  EXPECT_EQ(two.GetElectrodes(), (std::vector<uint32_t>{0, 1}));

  // An empty value list leaves the count open for the next item.
  StimParamManager open("Freq=;Elect=4,5");
  EXPECT_EQ(open.GetCount(), 2u);
}

TEST(StimParse, BlanksAreIgnoredButOtherWhiteSpaceIsNot) {
  StimParamManager spaced("Elect = 3 ; Freq = 50");
  ASSERT_EQ(spaced.GetCount(), 1u);
  EXPECT_EQ(spaced.GetParams(0).elect, 3);
  EXPECT_EQ(spaced.GetParams(0).freq, 50.0);

  // A tab is part of the key, which then matches nothing.
  CaptureStderr();
  StimParamManager tabbed("Elect=3;\tFreq=50");
  EXPECT_EQ(GetCapturedStderr(), "Invalid param: \tFreq\n");
  EXPECT_EQ(tabbed.GetParams(0).freq, 0.0);
}

TEST(StimParse, UnknownKeyIsReportedOncePerValueOnlyWhenItsCountFits) {
  CaptureStderr();
  StimParamManager silent("Elect=5;Foo=1,2");
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(silent.GetCount(), 1u);

  CaptureStderr();
  StimParamManager once("Elect=5;Foo=1");
  EXPECT_EQ(GetCapturedStderr(), "Invalid param: Foo\n");

  CaptureStderr();
  StimParamManager twice("Elect=5,6;Foo=1,2;freq=3,4");
  EXPECT_EQ(GetCapturedStderr(),
            "Invalid param: Foo\nInvalid param: Foo\nInvalid param: freq\nInvalid param: freq\n");
}

TEST(StimParse, ItemsWithoutValueAreSkippedAndLaterItemsOverwrite) {
  StimParamManager m("Elect=2;Freq=100;Freq;TL=;Freq=7=9;Dur=0.1;CathDur=0.3;Amp=20;AnodAmp=4");
  ASSERT_EQ(m.GetCount(), 1u);
  const StimParams& p = m.GetParams(0);
  EXPECT_EQ(p.freq, 7.0);          // only the part before a second '=' counts
  EXPECT_EQ(p.tl, 0.0);
  EXPECT_DOUBLE_EQ(p.cathDur, 300.0);
  EXPECT_DOUBLE_EQ(p.anodDur, 100.0);
  EXPECT_EQ(p.cathAmp, 20.0);
  EXPECT_EQ(p.anodAmp, 4.0);
}

TEST(StimParse, ConvertsLikeAtoiAndAtof) {
  StimParamManager m("Elect=12abc;Freq=2.5e1x;TL=junk;TD=.5;FS=1;PL=-3;CathAmp=7.9");
  const StimParams& p = m.GetParams(0);
  EXPECT_EQ(p.elect, 12);
  EXPECT_EQ(p.freq, 25.0);
  EXPECT_EQ(p.tl, 0.0);
  EXPECT_EQ(p.td, 500.0);
  EXPECT_EQ(p.fs, 1000.0);
  EXPECT_FALSE(p.pl == false);   // any non-zero integer: true
  EXPECT_EQ(p.cathAmp, 7.9);

  // Integers beyond 32 bits saturate instead of being undefined.
  StimParamManager big("Elect=99999999999");
  EXPECT_EQ(big.GetParams(0).elect, 2147483647);
  EXPECT_FALSE(big.IsValid(0));
}

TEST(StimValidate, ElectrodeRange) {
  auto valid = [](const std::string& elect) {
    return StimParamManager("Elect=" + elect + ";Freq=100;TL=1000;Dur=0.2;Amp=10").IsValid(0);
  };
  EXPECT_TRUE(valid("1"));
  EXPECT_TRUE(valid("512"));
  EXPECT_FALSE(valid("513"));
  EXPECT_FALSE(valid("0"));
  EXPECT_FALSE(valid("-1"));
}

TEST(StimValidate, EachLimitRejectsItsRecord) {
  auto valid = [](const std::string& text) {
    return StimParamManager("Elect=1;Amp=10;" + text).IsValid(0);
  };
  EXPECT_TRUE(valid("Freq=100;TL=1000;Dur=0.2"));
  EXPECT_FALSE(valid("Freq=0;TL=1000;Dur=0.2"));
  EXPECT_FALSE(valid("Freq=-5;TL=1000;Dur=0.2"));
  EXPECT_FALSE(valid("Freq=100;TL=0;Dur=0.2"));
  EXPECT_FALSE(valid("Freq=100;TL=1000;Dur=0.2;TD=-1"));
  EXPECT_FALSE(valid("Freq=100;TL=1000;CathDur=0.001;AnodDur=0.2"));
  EXPECT_FALSE(valid("Freq=100;TL=1000;CathDur=0.2;AnodDur=0.001"));
  EXPECT_TRUE(valid("Freq=100;TL=1000;Dur=0.002"));
  // The period must hold both phases, the interphase gap and the delay.
  EXPECT_FALSE(valid("Freq=1000;TL=1000;Dur=0.5"));
  EXPECT_TRUE(valid("Freq=1000;TL=1000;Dur=0.45"));
  EXPECT_FALSE(valid("Freq=1000;TL=1000;Dur=0.45;TD=0.1"));
  // Unreadable numbers (atof accepts "nan" and "inf") never pass.
  EXPECT_FALSE(valid("Freq=nan;TL=1000;Dur=0.2"));
  EXPECT_FALSE(valid("Freq=100;TL=inf;Dur=0.2"));
  EXPECT_FALSE(valid("Freq=100;TL=1000;Dur=nan"));
  EXPECT_FALSE(valid("Freq=100;TL=1000;Dur=0.2;TD=nan"));
}

TEST(StimValidate, RecordsTheWordsCannotCarryAreRefused) {
  auto manager = [](const std::string& text) { return StimParamManager("Elect=1;Dur=0.2;" + text); };
  // 10000 pulses are carried as 1808: the record is refused, not sent short.
  StimParamManager pulses = manager("Freq=100;TL=100000;Amp=10");
  EXPECT_EQ(pulses.GetHeaderWord(0), (300u << 12) + 1808u);
  EXPECT_FALSE(pulses.IsValid(0));
  EXPECT_TRUE(manager("Freq=100;TL=40950;Amp=10").IsValid(0));   // 4095 pulses

  // 75000 samples are carried as 9464: a faster train than asked for.
  StimParamManager slow = manager("Freq=0.4;TL=10000;Amp=10");
  EXPECT_EQ(slow.GetHeaderWord(0), (9464u << 12) + 4u);
  EXPECT_FALSE(slow.IsValid(0));
  EXPECT_TRUE(manager("Freq=0.5;TL=10000;Amp=10").IsValid(0));   // 60000 samples

  // Amplitude 130 is carried as 2, and -1 as 127, the largest current.
  StimParamManager a130 = manager("Freq=100;TL=1000;Amp=130");
  EXPECT_EQ(a130.GetSegmentWords(0), (Words{0x0006A002, 0x0002A000, 0x0006A082}));
  EXPECT_FALSE(a130.IsValid(0));
  StimParamManager negative = manager("Freq=100;TL=1000;CathAmp=-1;AnodAmp=10");
  EXPECT_EQ(negative.GetSegmentWords(0)[0] & 0x7F, 127u);
  EXPECT_FALSE(negative.IsValid(0));
  EXPECT_FALSE(manager("Freq=100;TL=1000;CathAmp=10;AnodAmp=128").IsValid(0));
  EXPECT_TRUE(manager("Freq=100;TL=1000;CathAmp=127.5;AnodAmp=0").IsValid(0));
}

TEST(StimValidate, AllValidNeedsEveryRecordAndHoldsForNone) {
  EXPECT_TRUE(StimParamManager("").AllValid());
  EXPECT_TRUE(StimParamManager("Elect=1,2;Freq=100,50;TL=1000,10;Dur=0.2,0.2;Amp=1,2").AllValid());
  EXPECT_FALSE(StimParamManager("Elect=1,600;Freq=100,50;TL=1000,10;Dur=0.2,0.2").AllValid());
}

TEST(StimHeaderWord, PeriodAndPulseCount) {
  // 30000 / 7 = 4285.7 samples, 7 * 2.5 = 17.5 pulses: both truncated.
  StimParamManager m("Elect=1;Freq=7;TL=2500");
  EXPECT_EQ(m.GetHeaderWord(0), (4285u << 12) + 17u);
}

TEST(StimMaxTrainLength, LargestTrainInWholeMicroseconds) {
  EXPECT_EQ(StimParamManager("").GetMaxTrainLength(), 0);
  EXPECT_EQ(StimParamManager("Elect=1,2,3;TL=0.0015,2.5,1").GetMaxTrainLength(), 2500);
  // Beyond 32 bits the value clamps instead of wrapping negative.
  EXPECT_EQ(StimParamManager("Elect=1;TL=1e9").GetMaxTrainLength(), 2147483647);
  EXPECT_EQ(StimParamManager("Elect=1;TL=nan").GetMaxTrainLength(), 0);
}

TEST(StimSegments, RealignmentMovesPhaseOneIntoOneSample) {
  std::string err;
  const Words words = SegmentWordsOf("Elect=1;CathDur=0.02;AnodDur=0.01;Amp=5", &err);
  EXPECT_EQ(err, "Warning: realignment needed\n");
  // Phase 1 starts at sub-step 22 of its one sample; two samples of gap;
  // phase 2 ends at sub-step 10.
  EXPECT_EQ(words, (Words{0x0001B605, 0x0002A000, 0x00018A85}));

  // The warning comes with every conversion, not with the parse.
  CaptureStderr();
  StimParamManager m("Elect=1;CathDur=0.02;AnodDur=0.01;Amp=5");
  m.GetSegmentWords(0);
  m.GetSegmentWords(0);
  EXPECT_EQ(GetCapturedStderr(),
            "Warning: realignment needed\nWarning: realignment needed\n");
}

TEST(StimSegments, SubSamplePhasesEndAndStartInsideTheirSamples) {
  std::string err;
  // 50 us phases: 1 sample + 15 sub-steps of phase 1; the gap ends 15
  // sub-steps into its second sample, where phase 2 starts; phase 2 then
  // runs 31 sub-steps into the next sample (17 + 31 sub-steps = 50 us).
  EXPECT_EQ(SegmentWordsOf("Elect=1;Dur=0.05;Amp=10", &err),
            (Words{0x0001A00A, 0x00018F0A, 0x0001A000, 0x0001AF8A, 0x00019F8A}));
  EXPECT_EQ(err, "");

  // Phase 1 shorter than a sample: only its end sub-step is sent.
  EXPECT_EQ(SegmentWordsOf("Elect=1;CathDur=0.02;AnodDur=0.04;Amp=10"),
            (Words{0x0001930A, 0x0001A000, 0x0001B38A, 0x0001998A}));

  // Phase 2 of whole samples plus a rounded remainder.
  EXPECT_EQ(SegmentWordsOf("Elect=1;CathDur=0.2;AnodDur=0.05;Amp=10"),
            (Words{0x0006A00A, 0x0002A000, 0x0001A08A, 0x0001908A}));
}

TEST(StimSegments, TrainDelayComesFirstInWholeSamples) {
  // 1 ms = 30 samples of nothing (not even ampSelect).
  EXPECT_EQ(SegmentWordsOf(std::string(kBasic) + ";TD=1"),
            (Words{0x001E0000, 0x0006A00A, 0x0002A000, 0x0006A08A}));
  // Less than one sample of delay sends no delay segment.
  EXPECT_EQ(SegmentWordsOf(std::string(kBasic) + ";TD=0.02"),
            (Words{0x0006A00A, 0x0002A000, 0x0006A08A}));
  // 3 s = 90000 samples, carried modulo 65536 as 24464.
  EXPECT_EQ(SegmentWordsOf(std::string(kBasic) + ";TD=3000")[0], 0x5F900000u);
}

}  // namespace
}  // namespace vorn
