#include "SosFilterRecord.h"

#include <gtest/gtest.h>

#include <tuple>

#include "GoldenBytes.h"
#include "RecordBuilder.h"

namespace vorn {
namespace {

TEST(SosFilterRecord, UploadRecordBytesAreExactAndCarryNoFlags) {
  SosFilterRecord f;
  f.label = "my lowpass";
  f.lowCutoff = 250.0f;
  f.highCutoff = 7500.0f;
  f.lowOrder = 2;
  f.highOrder = 4;
  f.centerFlags = 0xAA;   // fields an upload never carries
  f.lowFlags = 0xBB;
  f.highFlags = 0xCC;
  f.maxStages = 99;
  f.stages = {{1.0f, 2.0f, 5.0f, 6.0f}, {0.25f, -0.5f, 0.125f, -1.0f}};

  std::vector<uint8_t> want = test::Hex("01 1A 00 00");   // vendor 1, type 26, no flags
  want.insert(want.end(), f.label.begin(), f.label.end());
  want.resize(132, 0);   // the label field, zero-filled
  const std::vector<uint8_t> tail = test::Hex(
      "00000000 00007A43 0060EA45"            // center 0, low 250, high 7500
      "00 00 02 00 04 00 06 02"               // orders with zero flags, maxStages 6, numStages 2
      "0000803F 00000040 0000A040 0000C040"   // stage 1: 1, 2, 5, 6
      "0000803E 000000BF 0000003E 000080BF"   // stage 2: 0.25, -0.5, 0.125, -1
      "00000000 00000000");                   // the rest of the stages' room
  want.insert(want.end(), tail.begin(), tail.end());
  EXPECT_TRUE(test::BytesEqual(f.EncodeUpload(), want));
}

TEST(SosFilterRecord, UploadCutsTheLabelAndRefusesMoreStagesThanOnePacketHolds) {
  SosFilterRecord f;
  f.label = std::string(200, 'x');
  const auto r = f.EncodeUpload();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[4])), std::string(127, 'x'));
  EXPECT_EQ(r.size(), 152u);
  f.stages.assign(42, {});   // 41 + 5 x 42 = 251 words: the largest record that fits
  EXPECT_EQ(f.EncodeUpload().size(), 152u + 20u * 42u);
  f.stages.assign(43, {});
  EXPECT_TRUE(f.EncodeUpload().empty());
}

TEST(SosFilterRecord, ParseReadsEveryFieldAndImpliesColumnsThreeAndFour) {
  auto rec = build::SosFilter("Spike 250Hz", 1.5f, 250.0f, 5000.0f, 3, 4, 5, 6,
                              {{0.2f, 0.4f, -0.5f, 0.3f}, {1.0f, 2.0f, 5.0f, 6.0f}});
  rec[SosFilterView::kCenterFlags] = 7;
  rec[SosFilterView::kLowFlags] = 8;
  rec[SosFilterView::kHighFlags] = 9;
  SosFilterRecord f;
  ASSERT_TRUE(SosFilterRecord::Parse(SosFilterView(rec.data(), rec.size()), &f));
  EXPECT_EQ(std::make_tuple(f.label, f.center, f.lowCutoff, f.highCutoff),
            std::make_tuple(std::string("Spike 250Hz"), 1.5f, 250.0f, 5000.0f));
  EXPECT_EQ((std::vector<int>{f.centerOrder, f.centerFlags, f.lowOrder, f.lowFlags, f.highOrder,
                              f.highFlags, f.maxStages}),
            (std::vector<int>{3, 7, 4, 8, 5, 9, 6}));
  ASSERT_EQ(f.stages.size(), 2u);
  EXPECT_EQ(f.SosRow(0), (std::array<double, 6>{0.2f, 0.4f, 0.2f, 1.0, -0.5f, 0.3f}));
  EXPECT_EQ(f.SosRow(1), (std::array<double, 6>{1, 2, 1, 1, 5, 6}));
}

TEST(SosFilterRecord, ParseRefusesRecordsThatAreNotWholeFiltersAndLeavesTheOutputAlone) {
  const auto rec = build::SosFilter("x", 0, 0, 0, 0, 0, 0, 6, {{1, 2, 3, 4}});
  auto claims = rec, partial = rec, shortHead = rec, wrongType = rec;
  claims[SosFilterView::kNumStages] = 2;   // a stage that is not stored
  partial.resize(152 + 12);                // a partial stage does not count
  shortHead.resize(151);                   // shorter than the fixed head
  wrongType[1] = VORN_TYPE_COMBO;
  SosFilterRecord f;
  f.label = "unchanged";
  for (const auto* r : {&claims, &partial, &shortHead, &wrongType}) {
    EXPECT_FALSE(SosFilterRecord::Parse(SosFilterView(r->data(), r->size()), &f));
  }
  EXPECT_FALSE(SosFilterRecord::Parse(SosFilterView(), &f));
  EXPECT_EQ(f.label, "unchanged");
  auto fullLabel = rec;   // a label filling its whole field is cut at the field's end
  std::fill(fullLabel.begin() + 4, fullLabel.begin() + 132, 'L');
  ASSERT_TRUE(SosFilterRecord::Parse(SosFilterView(fullLabel.data(), fullLabel.size()), &f));
  EXPECT_EQ(f.label, std::string(128, 'L'));
}

}  // namespace
}  // namespace vorn
