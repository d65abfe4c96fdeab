#include "TrialRecordEdit.h"

#include <gtest/gtest.h>

#include "ByteOrder.h"
#include "RecordBuilder.h"

using vorn::TrialRecordEdit;
using vorn::TrialRecordView;
using vorn::TrialState;

namespace {

// A record whose unused bytes carry a pattern, so that any stray write shows.
std::vector<uint8_t> PatternedRecord() {
  auto r = vorn::build::TrialRecord(1, "session", 10, 0, 3);
  for (size_t i = 2; i < 8; ++i) r[i] = static_cast<uint8_t>(0xA0 + i);
  for (size_t i = 20; i < 28; ++i) r[i] = static_cast<uint8_t>(0xB0 + i);
  for (size_t i = 28 + 8; i < 540; ++i) r[i] = 0x5A;   // after "session\0"
  for (size_t i = 544; i < 552; ++i) r[i] = 0xC5;
  return r;
}

}  // namespace

TEST(TrialStatus, TextsAndCodesAreExact) {
  EXPECT_STREQ(vorn::TrialStatusText(1), "stopped");
  EXPECT_STREQ(vorn::TrialStatusText(2), "recording");
  EXPECT_STREQ(vorn::TrialStatusText(3), "paused");
  EXPECT_EQ(vorn::TrialStatusText(0), nullptr);
  EXPECT_EQ(vorn::TrialStatusText(4), nullptr);
  EXPECT_EQ(vorn::TrialStatusCode("recording"), 2u);
  EXPECT_EQ(vorn::TrialStatusCode("stopped"), 1u);
  EXPECT_EQ(vorn::TrialStatusCode("paused"), 3u);
  EXPECT_EQ(vorn::TrialStatusCode("Recording"), 0u);
  EXPECT_EQ(vorn::TrialStatusCode("paused "), 0u);
  EXPECT_EQ(vorn::TrialStatusCode(""), 0u);
}

TEST(TrialRecordEditApply, NoEditSendsTheRecordBackByteForByte) {
  auto r = PatternedRecord();
  const auto before = r;
  ASSERT_TRUE(TrialRecordEdit().ApplyTo(&r));
  EXPECT_EQ(r, before);
}

TEST(TrialRecordEditApply, WritesOnlyTheGivenFields) {
  auto r = PatternedRecord();
  auto want = r;
  TrialRecordEdit e;
  e.status = 2;
  e.stopTime = 60;
  e.autoIncr = 1;
  e.incrNum = 0xFFFFFFFBu;
  ASSERT_TRUE(e.ApplyTo(&r));
  vorn::StoreU32(&want[540], 2);
  vorn::StoreU32(&want[8], 60);
  vorn::StoreU32(&want[12], 1);
  vorn::StoreU32(&want[16], 0xFFFFFFFBu);
  EXPECT_EQ(r, want);
}

TEST(TrialRecordEditApply, FileBaseIsCopiedWithItsZeroAndLeavesTheRestOfTheField) {
  auto r = PatternedRecord();
  auto want = r;
  TrialRecordEdit e;
  e.fileBase = "run";
  ASSERT_TRUE(e.ApplyTo(&r));
  want[28] = 'r';
  want[29] = 'u';
  want[30] = 'n';
  want[31] = 0;
  EXPECT_EQ(r, want);   // "sion\0" and the pattern after it are untouched

  // An embedded zero ends the text as a C string copy would.
  e.fileBase = std::string("ab\0cd", 5);
  ASSERT_TRUE(e.ApplyTo(&r));
  EXPECT_EQ(*TrialRecordView(r.data(), r.size()).FileBase(), "ab");
  EXPECT_EQ(r[31], 0);
}

TEST(TrialRecordEditApply, LongestFileBaseFitsAndLongerOnesChangeNothing) {
  auto r = PatternedRecord();
  TrialRecordEdit e;
  e.fileBase = std::string(511, 'f');
  e.status = 3;
  ASSERT_TRUE(e.ApplyTo(&r));
  EXPECT_EQ(*TrialRecordView(r.data(), r.size()).FileBase(), std::string(511, 'f'));
  EXPECT_EQ(r[28 + 511], 0);
  EXPECT_EQ(vorn::LoadU32(&r[540]), 3u);   // the field after filebase is intact

  const auto before = r;
  e.fileBase = std::string(512, 'g');
  e.status = 1;
  EXPECT_FALSE(e.ApplyTo(&r));
  EXPECT_EQ(r, before);

  std::vector<uint8_t> wrongSize(551, 0);
  EXPECT_FALSE(TrialRecordEdit().ApplyTo(&wrongSize));
  EXPECT_FALSE(TrialRecordEdit().ApplyTo(nullptr));
}

TEST(TrialRecordState, ReadsWhatTheOperatorReports) {
  auto r = vorn::build::TrialRecord(3, "mouse12", 90000, 1, 7);
  TrialState s;
  ASSERT_TRUE(vorn::ReadTrialState(TrialRecordView(r.data(), r.size()), &s));
  EXPECT_EQ(s.status, "paused");
  EXPECT_EQ(s.fileBase, "mouse12");
  EXPECT_EQ(s.stopTime, 90000u);
  EXPECT_EQ(s.autoIncr, 1u);
  EXPECT_EQ(s.incrNum, 7u);

  // A file name base that fills the whole field without a zero is cut there.
  std::fill(r.begin() + 28, r.begin() + 540, 'z');
  ASSERT_TRUE(vorn::ReadTrialState(TrialRecordView(r.data(), r.size()), &s));
  EXPECT_EQ(s.fileBase, std::string(512, 'z'));

  vorn::StoreU32(&r[540], 4);
  EXPECT_FALSE(vorn::ReadTrialState(TrialRecordView(r.data(), r.size()), &s));
  vorn::StoreU32(&r[540], 0);
  EXPECT_FALSE(vorn::ReadTrialState(TrialRecordView(r.data(), r.size()), &s));
  r.resize(544);
  EXPECT_FALSE(vorn::ReadTrialState(TrialRecordView(r.data(), r.size()), &s));
}
