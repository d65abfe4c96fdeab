#include "TrialRecordEdit.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <tuple>

#include "ByteOrder.h"
#include "RecordBuilder.h"
#include "TruncateDouble.h"

namespace vorn {
namespace {

// A record whose unused bytes carry a pattern, so that any stray write shows.
std::vector<uint8_t> PatternedRecord() {
  auto r = build::TrialRecord(1, "session", 10, 0, 3);
  for (size_t i = 2; i < r.size(); ++i) {   // all but the fields and "session\0"
    const bool unused = i < 8 || (i >= 20 && i < 28) || (i >= 36 && i < 540) || i >= 544;
    if (unused) r[i] = static_cast<uint8_t>(0x5A + i);
  }
  return r;
}

TEST(TrialStatus, TextsAndCodesAreExactAndAnythingElseIsRefused) {
  const char* texts[] = {nullptr, "stopped", "recording", "paused", nullptr};
  for (uint32_t code = 0; code < 5; ++code) {
    EXPECT_STREQ(TrialStatusText(code), texts[code]);
    if (texts[code] != nullptr) { EXPECT_EQ(TrialStatusCode(texts[code]), code); }
  }
  for (const char* other : {"Recording", "paused ", ""}) EXPECT_EQ(TrialStatusCode(other), 0u) << other;
}

TEST(TrialRecordEdit, WritesOnlyTheGivenFieldsAndLeavesEveryOtherByte) {
  auto r = PatternedRecord();
  const auto before = r;
  ASSERT_TRUE(TrialRecordEdit().ApplyTo(&r));
  EXPECT_EQ(r, before);   // no edit: sent back byte for byte
  // Status, file base (copied up to its first zero, with it), stop time, auto increment, number.
  const TrialRecordEdit e{2, std::string("run\0cd", 6), 60, 1, 0xFFFFFFFBu};
  ASSERT_TRUE(e.ApplyTo(&r));
  auto want = before;
  for (auto [at, v] : {std::pair{540, 2u}, {8, 60u}, {12, 1u}, {16, 0xFFFFFFFBu}}) {
    StoreU32(&want[at], v);
  }
  std::copy_n("run", 4, want.begin() + 28);   // "sion\0" and the pattern after it stay
  EXPECT_EQ(r, want);
}

TEST(TrialRecordEdit, LongestFileBaseFitsLongerOnesAndWrongRecordsChangeNothing) {
  auto r = PatternedRecord();
  TrialRecordEdit e;
  e.fileBase = std::string(511, 'f');
  e.status = 3;
  ASSERT_TRUE(e.ApplyTo(&r));
  EXPECT_EQ(*TrialRecordView(r.data(), r.size()).FileBase(), std::string(511, 'f'));
  EXPECT_EQ(LoadU32(&r[540]), 3u);   // the field after it is intact
  const auto before = r;
  e.fileBase = std::string(512, 'g');
  e.status = 1;
  EXPECT_FALSE(e.ApplyTo(&r));
  EXPECT_EQ(r, before);
  std::vector<uint8_t> wrongSize(551, 0);
  EXPECT_FALSE(TrialRecordEdit().ApplyTo(&wrongSize));
  EXPECT_FALSE(TrialRecordEdit().ApplyTo(nullptr));
}

TEST(TrialRecordState, ReadsTheOperatorsRecordAndRefusesUnknownStatusOrShortRecords) {
  auto r = build::TrialRecord(3, "mouse12", 90000, 1, 7);
  TrialState s;
  ASSERT_TRUE(ReadTrialState(TrialRecordView(r.data(), r.size()), &s));
  EXPECT_EQ(std::make_tuple(s.status, s.fileBase, s.stopTime, s.autoIncr, s.incrNum),
            std::make_tuple(std::string("paused"), std::string("mouse12"), 90000u, 1u, 7u));
  std::fill(r.begin() + 28, r.begin() + 540, 'z');   // no zero: cut at the field's end
  ASSERT_TRUE(ReadTrialState(TrialRecordView(r.data(), r.size()), &s));
  EXPECT_EQ(s.fileBase, std::string(512, 'z'));
  for (uint32_t status : {4u, 0u}) {
    StoreU32(&r[540], status);
    EXPECT_FALSE(ReadTrialState(TrialRecordView(r.data(), r.size()), &s)) << status;
  }
  StoreU32(&r[540], 1);
  r.resize(551);
  EXPECT_FALSE(ReadTrialState(TrialRecordView(r.data(), r.size()), &s));
}

TEST(TruncateDouble, TruncatesTowardZeroAndRefusesWhatDoesNotFit) {
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  const std::pair<double, std::optional<int32_t>> ints[] = {
      {0.7, 0}, {-0.7, 0}, {-1.9, -1}, {2147483647.9, INT32_MAX}, {-2147483648.9, INT32_MIN},
      {2147483648.0, {}}, {-2147483649.0, {}}, {nan, {}}, {inf, {}}};
  for (auto [v, want] : ints) EXPECT_EQ(TruncToInt32(v), want) << v;
  const std::pair<double, std::optional<uint32_t>> bits[] = {   // two's complement below zero
      {60.5, 60}, {-5.5, 0xFFFFFFFBu}, {4294967295.0, UINT32_MAX}, {-2147483648.0, 0x80000000u},
      {4294967296.0, {}}, {-2147483649.0, {}}, {nan, {}}, {-inf, {}}};
  for (auto [v, want] : bits) EXPECT_EQ(TruncToU32Bits(v), want) << v;
  const std::pair<double, int> saturated[] = {
      {1.7, 1}, {-0.5, 0}, {1e300, INT_MAX}, {-1e300, INT_MIN}, {nan, -7}};
  for (auto [v, want] : saturated) EXPECT_EQ(SaturatingTrunc(v, -7), want) << v;
}

}  // namespace
}  // namespace vorn
