// Record accessors on short and unterminated records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordBuilder.h"
#include "RecordView.h"

namespace vorn {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(RecordView, FieldsPastTheEndReadAsAbsent) {
  const Bytes rec = {1, VORN_TYPE_INT, 0, 0, 0x78, 0x56, 0x34};   // value one byte short
  IntView v(rec.data(), rec.size());
  EXPECT_EQ(v.Vendor(), 1);
  EXPECT_TRUE(v.IsType(VORN_TYPE_INT));
  EXPECT_FALSE(v.Value().has_value());
  EXPECT_FALSE(v.U16(6).has_value());
  EXPECT_EQ(v.U16(5), 0x3456);
  EXPECT_FALSE(v.U8(SIZE_MAX).has_value());
  EXPECT_FALSE(v.U32(SIZE_MAX - 1).has_value());
}

TEST(RecordView, EmptyAndNullRecordsHaveNoType) {
  RecordView empty;
  EXPECT_FALSE(empty.Type().has_value());
  EXPECT_FALSE(empty.IsType(VORN_TYPE_INVALID));
  RecordView null(nullptr, 100);
  EXPECT_EQ(null.Size(), 0u);
  EXPECT_FALSE(null.Vendor().has_value());
}

TEST(RecordView, UnterminatedStringEndsAtTheRecordsEnd) {
  Bytes rec = build::ModuleDesc(VORN_FE_STIM, 10, 20, "stim front end");
  rec.resize(ModuleDescView::kName + 4);   // "stim", no zero byte
  ModuleDescView v(rec.data(), rec.size());
  EXPECT_EQ(v.Name(), "stim");
  EXPECT_EQ(v.FrontEndType(), VORN_FE_STIM);

  rec.resize(ModuleDescView::kName);   // the name field starts at the end
  EXPECT_FALSE(ModuleDescView(rec.data(), rec.size()).Name().has_value());
}

TEST(RecordView, LabelStopsAtItsFieldWidth) {
  Bytes rec = build::OutputStream(0, VORN_STREAM_TYPE_CONTINUOUS, 1, 3, 32, 0.25f, "", "");
  // A label filling its whole field, no zero byte, the name right behind it.
  for (size_t i = 0; i < OutputStreamView::kLabelLen; ++i) rec[OutputStreamView::kLabel + i] = 'L';
  OutputStreamView v(rec.data(), rec.size());
  ASSERT_TRUE(v.Label().has_value());
  EXPECT_EQ(v.Label()->size(), OutputStreamView::kLabelLen);
  EXPECT_EQ(v.Name(), "");
  EXPECT_EQ(v.Scale(), 0.25f);
}

TEST(RecordView, ShortPacketHasNoRecord) {
  const Bytes pkt = {3, 1, 0, 0, 5, 0, 0, 0, 1, 0, 0};   // address cut short
  PacketView v(pkt.data(), pkt.size());
  EXPECT_EQ(v.TargetModule(), 0);
  EXPECT_FALSE(v.PropertyIndex().has_value());
  EXPECT_TRUE(v.Record().Empty());
  EXPECT_FALSE(v.Record().Type().has_value());
}

TEST(RecordView, SosStagesCountOnlyWholeStagesStored) {
  Bytes rec = build::SosFilter("f", 1, 2, 3, 1, 2, 3, 4, {{1, 2, 3, 4}, {5, 6, 7, 8}});
  rec.resize(SosFilterView::kStages + SosFilterView::kStageBytes + 8);
  SosFilterView v(rec.data(), rec.size());
  EXPECT_EQ(v.StagesStored(), 1u);
  EXPECT_EQ(v.Coef(0, 3), 4.0f);
  EXPECT_EQ(v.Coef(1, 1), 6.0f);
  EXPECT_FALSE(v.Coef(1, 2).has_value());
}

}  // namespace
}  // namespace vorn
