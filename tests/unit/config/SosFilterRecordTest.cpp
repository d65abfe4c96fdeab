#include "SosFilterRecord.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ByteOrder.h"
#include "RecordBuilder.h"

using vorn::SosFilterRecord;
using vorn::SosFilterView;

namespace {

std::vector<uint8_t> F32Bytes(float f) {
  std::vector<uint8_t> b(4);
  vorn::StoreF32(b.data(), f);
  return b;
}

SosFilterRecord TwoStageFilter() {
  SosFilterRecord f;
  f.label = "my lowpass";
  f.center = 0.0f;
  f.lowCutoff = 250.0f;
  f.highCutoff = 7500.0f;
  f.centerOrder = 0;
  f.lowOrder = 2;
  f.highOrder = 4;
  // Fields an upload never carries.
  f.centerFlags = 0xAA;
  f.lowFlags = 0xBB;
  f.highFlags = 0xCC;
  f.maxStages = 99;
  f.stages = {{1.0f, 2.0f, 5.0f, 6.0f}, {0.25f, -0.5f, 0.125f, -1.0f}};
  return f;
}

}  // namespace

TEST(SosFilterRecordUpload, TwoStagesGiveTheExactRecordBytes) {
  const std::vector<uint8_t> r = TwoStageFilter().EncodeUpload();

  std::vector<uint8_t> want(192, 0);
  want[0] = 1;    // vendor
  want[1] = 26;   // VornSosFilterDesc; flags and reserved stay 0
  std::memcpy(&want[4], "my lowpass", 10);
  auto put = [&](size_t off, float v) {
    auto b = F32Bytes(v);
    std::copy(b.begin(), b.end(), want.begin() + off);
  };
  put(132, 0.0f);
  put(136, 250.0f);
  put(140, 7500.0f);
  want[144] = 0;   // centerOrder
  want[146] = 2;   // lowOrder
  want[148] = 4;   // highOrder
  want[150] = 6;   // maxStages
  want[151] = 2;   // numStages
  put(152, 1.0f);
  put(156, 2.0f);
  put(160, 5.0f);
  put(164, 6.0f);
  put(168, 0.25f);
  put(172, -0.5f);
  put(176, 0.125f);
  put(180, -1.0f);
  // 184..191: the room after the last stage stays zero.
  EXPECT_EQ(r, want);
}

TEST(SosFilterRecordUpload, LengthLabelAndStageLimit) {
  SosFilterRecord f;
  EXPECT_EQ(f.EncodeUpload().size(), 152u);
  EXPECT_EQ(SosFilterRecord::UploadLength(2), 192u);

  f.label = std::string(200, 'x');
  const auto r = f.EncodeUpload();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[4])), std::string(127, 'x'));
  EXPECT_EQ(r[131], 0);

  // The largest record that fits one packet: 41 + 5 x 42 = 251 words.
  EXPECT_EQ(SosFilterRecord::kUploadStageLimit, 42u);
  f.stages.assign(42, {0.0f, 0.0f, 0.0f, 0.0f});
  EXPECT_EQ(f.EncodeUpload().size(), 152u + 20u * 42u);
  f.stages.assign(43, {0.0f, 0.0f, 0.0f, 0.0f});
  EXPECT_TRUE(f.EncodeUpload().empty());
}

TEST(SosFilterRecordParse, ReadsFieldsAndShowsImpliedCoefficients) {
  auto rec = vorn::build::SosFilter("Spike 250Hz", 1.5f, 250.0f, 5000.0f, 3, 4, 5, 6,
                                    {{0.2f, 0.4f, -0.5f, 0.3f}, {1.0f, 2.0f, 5.0f, 6.0f}});
  rec[SosFilterView::kCenterFlags] = 7;
  rec[SosFilterView::kLowFlags] = 8;
  rec[SosFilterView::kHighFlags] = 9;
  SosFilterRecord f;
  ASSERT_TRUE(SosFilterRecord::Parse(SosFilterView(rec.data(), rec.size()), &f));
  EXPECT_EQ(f.label, "Spike 250Hz");
  EXPECT_FLOAT_EQ(f.center, 1.5f);
  EXPECT_FLOAT_EQ(f.lowCutoff, 250.0f);
  EXPECT_FLOAT_EQ(f.highCutoff, 5000.0f);
  EXPECT_EQ(f.centerOrder, 3);
  EXPECT_EQ(f.centerFlags, 7);
  EXPECT_EQ(f.lowOrder, 4);
  EXPECT_EQ(f.lowFlags, 8);
  EXPECT_EQ(f.highOrder, 5);
  EXPECT_EQ(f.highFlags, 9);
  EXPECT_EQ(f.maxStages, 6);
  ASSERT_EQ(f.stages.size(), 2u);
  const auto row0 = f.SosRow(0);
  const std::array<double, 6> want0 = {0.2f, 0.4f, 0.2f, 1.0, -0.5f, 0.3f};
  EXPECT_EQ(row0, want0);
  const std::array<double, 6> want1 = {1, 2, 1, 1, 5, 6};
  EXPECT_EQ(f.SosRow(1), want1);
}

TEST(SosFilterRecordParse, UploadReadsBackWithColumnsThreeAndFourImplied) {
  const auto r = TwoStageFilter().EncodeUpload();
  SosFilterRecord back;
  ASSERT_TRUE(SosFilterRecord::Parse(SosFilterView(r.data(), r.size()), &back));
  EXPECT_EQ(back.label, "my lowpass");
  EXPECT_EQ(back.maxStages, 6);
  EXPECT_EQ(back.centerFlags, 0);
  const std::array<double, 6> want = {1, 2, 1, 1, 5, 6};
  EXPECT_EQ(back.SosRow(0), want);
}

TEST(SosFilterRecordParse, RefusesRecordsThatAreNotWholeFilters) {
  SosFilterRecord f;
  f.label = "unchanged";
  auto rec = vorn::build::SosFilter("x", 0, 0, 0, 0, 0, 0, 6, {{1, 2, 3, 4}});

  // numStages claims a stage that is not stored.
  auto claims = rec;
  claims[SosFilterView::kNumStages] = 2;
  EXPECT_FALSE(SosFilterRecord::Parse(SosFilterView(claims.data(), claims.size()), &f));
  // A partial stage does not count.
  auto partial = rec;
  partial.resize(152 + 12);
  EXPECT_FALSE(SosFilterRecord::Parse(SosFilterView(partial.data(), partial.size()), &f));
  // Shorter than the fixed head.
  auto shortHead = rec;
  shortHead.resize(151);
  EXPECT_FALSE(SosFilterRecord::Parse(SosFilterView(shortHead.data(), shortHead.size()), &f));
  // Wrong record type.
  auto wrongType = rec;
  wrongType[1] = vorn::VORN_TYPE_COMBO;
  EXPECT_FALSE(SosFilterRecord::Parse(SosFilterView(wrongType.data(), wrongType.size()), &f));
  EXPECT_FALSE(SosFilterRecord::Parse(SosFilterView(), &f));
  EXPECT_EQ(f.label, "unchanged");

  // A label that fills its whole field still parses, cut at the field's end.
  auto fullLabel = rec;
  std::fill(fullLabel.begin() + 4, fullLabel.begin() + 132, 'L');
  ASSERT_TRUE(SosFilterRecord::Parse(SosFilterView(fullLabel.data(), fullLabel.size()), &f));
  EXPECT_EQ(f.label, std::string(128, 'L'));
}
