// Stim parameter strings: parsing, validation and the stim words of a pulse
// train. Later items overwrite earlier ones, so the tables below vary one
// valid base string item by item.
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

const std::string kBase = "Elect=1;Freq=100;TL=1000;CathDur=0.2;AnodDur=0.2;CathAmp=10;AnodAmp=10";
const Words kBasicWords = {0x0006A00A, 0x0002A000, 0x0006A08A};

// The base string with items appended (and so overwriting its own).
std::string Stim(const std::string& items) { return items.empty() ? kBase : kBase + ";" + items; }

// What parsing text writes to standard error.
std::string ParseDiagnostics(const std::string& text) {
  CaptureStderr();
  StimParamManager m(text);
  return GetCapturedStderr();
}

TEST(StimSegmentWord, PacksEveryField) {
  EXPECT_EQ(StimSegment(6, 10, false, true, true, 0, false).Encode(), 0x0006A00Au);
  EXPECT_EQ(StimSegment(0xFFFF, 127, true, true, true, 31, true).Encode(), 0xFFFFFFFFu);
  // Delay carried modulo 32, amplitude modulo 128; a default segment has only ampSelect.
  EXPECT_EQ(StimSegment(1, 130, false, false, false, 33, false).Encode(), 0x00010102u);
  EXPECT_EQ(StimSegment().Encode(), 0x00008000u);
}

TEST(StimSegments, WordsOfOnePulse) {
  const std::string realign = "Warning: realignment needed\n";
  struct Case {
    std::string items;
    Words words;
    std::string diagnostics;
  } cases[] = {
      {"", kBasicWords, ""},
      {"PL=0", {0x0006A08A, 0x0002A000, 0x0006A00A}, ""},   // only the polarity bits swap
      // Phase 1 keeps cathode duration and amplitude whatever the polarity.
      {"CathDur=0.2;AnodDur=0.05;CathAmp=3;AnodAmp=9;PL=0",
       {0x0006A083, 0x0002A000, 0x0001A009, 0x00019009}, ""},
      // Phase 1 starts at sub-step 22 of its one sample (23.3 us / 1.04 us =
      // 22.4, and 22.8 us gives 21.9, rounded to 22 as well); phase 2 ends at 10.
      {"CathDur=0.02;AnodDur=0.01;Amp=5", {0x0001B605, 0x0002A000, 0x00018A85}, realign},
      {"CathDur=0.02;AnodDur=0.0105;Amp=5", {0x0001B605, 0x0002A000, 0x00018A85}, realign},
      // 50 us phases (Dur sets both): each ends or starts inside its sample.
      {"Dur=0.05", {0x0001A00A, 0x00018F0A, 0x0001A000, 0x0001AF8A, 0x00019F8A}, ""},
      {"CathDur=0.02;AnodDur=0.04", {0x0001930A, 0x0001A000, 0x0001B38A, 0x0001998A}, ""},
      {"AnodDur=0.05", {0x0006A00A, 0x0002A000, 0x0001A08A, 0x0001908A}, ""},
      // The train delay comes first in whole samples (1 ms = 30), without ampSelect.
      {"TD=1", {0x001E0000, 0x0006A00A, 0x0002A000, 0x0006A08A}, ""},
      {"TD=0.02", kBasicWords, ""},
      {"TD=3000", {0x5F900000, 0x0006A00A, 0x0002A000, 0x0006A08A}, ""},   // 90000 mod 65536
      // Amplitude 130 (Amp sets both) is carried as 2, and -1 as 127, the largest current.
      {"Amp=130", {0x0006A002, 0x0002A000, 0x0006A082}, ""},
      {"CathAmp=-1", {0x0006A07F, 0x0002A000, 0x0006A08A}, ""},
  };
  for (const Case& c : cases) {
    CaptureStderr();
    StimParamManager m(Stim(c.items));
    ASSERT_EQ(m.GetCount(), 1u);
    EXPECT_EQ(m.GetSegmentWords(0), c.words) << c.items;
    EXPECT_EQ(GetCapturedStderr(), c.diagnostics) << c.items;
  }
}

TEST(StimValidate, LimitsAndRecordsTheWordsCannotCarry) {
  struct Case {
    std::string items;
    bool valid;
    uint32_t header;   // 0: not checked
  } cases[] = {
      {"", true, 0x0012C064},   // 300 samples, 100 pulses
      {"Elect=512", true, 0}, {"Elect=513", false, 0}, {"Elect=0", false, 0}, {"Elect=-1", false, 0},
      {"Elect=99999999999", false, 0},   // saturates, does not wrap into range
      {"Freq=0", false, 0}, {"Freq=-5", false, 0}, {"TL=0", false, 0}, {"TD=-1", false, 0},
      {"CathDur=0.001", false, 0}, {"AnodDur=0.001", false, 0}, {"Dur=0.002", true, 0},
      // The period must hold both phases, the interphase gap and the delay.
      {"Freq=1000;Dur=0.5", false, 0}, {"Freq=1000;Dur=0.45", true, 0},
      {"Freq=1000;Dur=0.45;TD=0.1", false, 0},
      // atof reads "nan" and "inf".
      {"Freq=nan", false, 0}, {"TL=inf", false, 0}, {"Dur=nan", false, 0}, {"TD=nan", false, 0},
      {"Freq=7;TL=2500", true, (4285u << 12) + 17u},   // both truncated
      // 10000 pulses are carried as 1808: refused, not sent short.
      {"TL=100000", false, (300u << 12) + 1808u}, {"TL=40950", true, (300u << 12) + 4095u},
      // 75000 samples are carried as 9464: a faster train than asked for.
      {"Freq=0.4;TL=10000", false, (9464u << 12) + 4u}, {"Freq=0.5;TL=10000", true, (60000u << 12) + 5u},
      {"Amp=130", false, 0}, {"CathAmp=-1", false, 0}, {"AnodAmp=128", false, 0},
      {"CathAmp=127.5;AnodAmp=0", true, 0},
  };
  for (const Case& c : cases) {
    StimParamManager m(Stim(c.items));
    EXPECT_EQ(m.IsValid(0), c.valid) << c.items;
    if (c.header != 0) {
      EXPECT_EQ(m.GetHeaderWord(0), c.header) << c.items;
    }
  }
  EXPECT_TRUE(StimParamManager("").AllValid());
  EXPECT_TRUE(StimParamManager("Elect=1,2;Freq=100,50;TL=1000,10;Dur=0.2,0.2;Amp=1,2").AllValid());
  EXPECT_FALSE(StimParamManager("Elect=1,600;Freq=100,50;TL=1000,10;Dur=0.2,0.2").AllValid());
}

TEST(StimParse, FirstItemWithValuesFixesTheElectrodeCount) {
  StimParamManager one("Elect=1,2;Freq=100");
  ASSERT_EQ(one.GetCount(), 2u);
  // A single value is never spread over both electrodes.
  EXPECT_EQ(one.GetParams(0).freq, 0.0);
  EXPECT_EQ(one.GetParams(1).freq, 0.0);
  EXPECT_FALSE(one.AllValid());

  StimParamManager two("Elect=1,2;Freq=100,200");
  EXPECT_EQ(two.GetParams(0).freq, 100.0);
  EXPECT_EQ(two.GetParams(1).freq, 200.0);
  EXPECT_EQ(two.GetElectrodes(), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(StimParamManager("Freq=;Elect=4,5").GetCount(), 2u);   // empty list: count still open

  using V = std::vector<std::string>;
  EXPECT_EQ(StimParamManager::Split("a,,b", ','), (V{"a", "", "b"}));
  EXPECT_EQ(StimParamManager::Split(",a,", ','), (V{"", "a"}));
  EXPECT_EQ(StimParamManager::Split("", ','), V{});
}

TEST(StimParse, BlanksAreIgnoredAndUnknownKeysReportedOncePerValue) {
  StimParamManager spaced("Elect = 3 ; Freq = 50");
  ASSERT_EQ(spaced.GetCount(), 1u);
  EXPECT_EQ(spaced.GetParams(0).elect, 3);
  EXPECT_EQ(spaced.GetParams(0).freq, 50.0);

  EXPECT_EQ(ParseDiagnostics("Elect=3;\tFreq=50"), "Invalid param: \tFreq\n");   // a tab is no blank
  EXPECT_EQ(ParseDiagnostics("Elect=5;Foo=1,2"), "");   // count does not fit: skipped silently
  EXPECT_EQ(ParseDiagnostics("Elect=5;Foo=1"), "Invalid param: Foo\n");
  EXPECT_EQ(ParseDiagnostics("Elect=5,6;Foo=1,2;freq=3,4"),
            "Invalid param: Foo\nInvalid param: Foo\nInvalid param: freq\nInvalid param: freq\n");
}

TEST(StimParse, ValuesConvertLikeAtoiAndAtofAndEmptyItemsAreSkipped) {
  StimParamManager m("Elect=2;Freq=100;Freq;TL=;Freq=7=9;Dur=0.1;CathDur=0.3;Amp=20;AnodAmp=4");
  const StimParams& p = m.GetParams(0);
  EXPECT_EQ(p.freq, 7.0);   // only the part before a second '=' counts
  EXPECT_EQ(p.tl, 0.0);
  EXPECT_DOUBLE_EQ(p.cathDur, 300.0);
  EXPECT_DOUBLE_EQ(p.anodDur, 100.0);
  EXPECT_EQ(p.cathAmp, 20.0);
  EXPECT_EQ(p.anodAmp, 4.0);

  const StimParams q = StimParamManager("Elect=12abc;Freq=2.5e1x;TL=junk;TD=.5;FS=1;PL=-3").GetParams(0);
  EXPECT_EQ(q.elect, 12);
  EXPECT_EQ(q.freq, 25.0);
  EXPECT_EQ(q.tl, 0.0);
  EXPECT_EQ(q.td, 500.0);
  EXPECT_EQ(q.fs, 1000.0);
  EXPECT_TRUE(q.pl);   // any non-zero integer
}

TEST(StimMaxTrainLength, LargestTrainInWholeMicrosecondsWithoutOverflow) {
  EXPECT_EQ(StimParamManager("").GetMaxTrainLength(), 0);
  EXPECT_EQ(StimParamManager(kBase).GetMaxTrainLength(), 1000000);
  EXPECT_EQ(StimParamManager("Elect=1,2,3;TL=0.0015,2.5,1").GetMaxTrainLength(), 2500);
  EXPECT_EQ(StimParamManager("Elect=1;TL=1e9").GetMaxTrainLength(), 2147483647);
  EXPECT_EQ(StimParamManager("Elect=1;TL=nan").GetMaxTrainLength(), 0);
}

}  // namespace
}  // namespace vorn
