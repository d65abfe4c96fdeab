// Splitting a datagram into packets (and the 1500-byte limit), and reading records that are
// short or unterminated.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "RecordBuilder.h"
#include "RecordView.h"
#include "VornPacketList.h"

namespace vorn {
namespace {

using Bytes = std::vector<uint8_t>;

// Packets of the given sizes in words (size 0: one word), each filled with its own number
// after the size byte.
Bytes Packets(std::initializer_list<int> words) {
  Bytes out;
  uint8_t fill = 1;
  for (int w : words) {
    Bytes p(static_cast<size_t>(w > 0 ? w : 1) * 4, fill++);
    p[0] = static_cast<uint8_t>(w);
    build::Append(out, p);
  }
  return out;
}
Bytes Resized(Bytes b, size_t n) {
  b.resize(n, 0x01);
  return b;
}

TEST(PacketList, SplitsAtEachSizeByteAndStopsAtWhatIsNotWhole) {
  struct Case {
    const char* name;
    Bytes data;
    std::vector<uint32_t> offsets;
    const char* err;
  };
  const Case cases[] = {
      {"3 and 30 words", Packets({3, 30}), {0, 12}, ""},
      {"3, 30 and 7 words", Packets({3, 30, 7}), {0, 12, 132}, ""},
      // A datagram that is refused must leave nothing of the one before.
      {"1500 bytes: refused", Resized(Packets({255, 119}), 1500), {},
       "VornPacketList: failed to allocate memory"},
      {"1499 bytes, 3 trailing", Resized(Packets({255, 119}), 1499), {0, 1020}, ""},
      {"size 0 ends the split", Packets({3, 2, 0, 3}), {0, 12}, ""},
      {"size 0 first", Packets({0, 3}), {}, ""},
      {"past the end by a word", Resized(Packets({3, 30}), 128), {0}, ""},
      {"a size byte alone", Resized(Packets({1, 2}), 5), {0}, ""},
      {"no bytes", {}, {}, ""},
  };
  VornPacketList list(1500);   // one list for all: each fill replaces the last
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::testing::internal::CaptureStderr();
    list.Fill(c.data.data(), static_cast<int>(c.data.size()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
    ASSERT_EQ(list.GetCount(), c.offsets.size());
    for (uint32_t i = 0; i < list.GetCount(); ++i) {
      const uint32_t off = c.offsets[i], len = c.data[off] * 4u;
      EXPECT_EQ(list.GetPacket(i) - list.GetPacket(0), off);
      ASSERT_EQ(list.GetPacketLength(i), len);
      EXPECT_EQ(std::memcmp(list.GetPacket(i), c.data.data() + off, len), 0);
    }
    EXPECT_EQ(list.GetPacket(list.GetCount()), nullptr);
    EXPECT_TRUE(list.GetPacketView(list.GetCount()).Empty());
  }
  const Bytes d = Packets({3});
  list.Fill(d.data(), -5);
  EXPECT_EQ(list.GetCount(), 0u);
}

TEST(RecordView, FieldsPastTheEndReadAsAbsent) {
  const Bytes rec = {1, VORN_TYPE_INT, 0, 0, 0x78, 0x56, 0x34};   // value one byte short
  IntView v(rec.data(), rec.size());
  EXPECT_TRUE(v.IsType(VORN_TYPE_INT));
  EXPECT_FALSE(v.Value().has_value());
  EXPECT_FALSE(v.U16(6).has_value());
  EXPECT_EQ(v.U16(5), 0x3456);
  EXPECT_FALSE(v.U8(SIZE_MAX).has_value());   // no overflow in the bounds check
  EXPECT_FALSE(v.U32(SIZE_MAX - 1).has_value());
  EXPECT_FALSE(RecordView().Type().has_value());
  EXPECT_FALSE(RecordView().IsType(VORN_TYPE_INVALID));
  EXPECT_EQ(RecordView(nullptr, 100).Size(), 0u);

  const Bytes pkt = {3, 1, 0, 0, 5, 0, 0, 0, 1, 0, 0};   // address cut short
  PacketView p(pkt.data(), pkt.size());
  EXPECT_EQ(p.TargetModule(), 0);
  EXPECT_FALSE(p.PropertyIndex().has_value());
  EXPECT_TRUE(p.Record().Empty());
}

TEST(RecordView, StringsEndAtTheRecordOrTheirFieldWidth) {
  Bytes rec = build::ModuleDesc(VORN_FE_STIM, 10, 20, "stim front end");
  rec.resize(ModuleDescView::kName + 4);   // "stim", no zero byte
  EXPECT_EQ(ModuleDescView(rec.data(), rec.size()).Name(), "stim");
  rec.resize(ModuleDescView::kName);   // the name field starts at the end
  EXPECT_FALSE(ModuleDescView(rec.data(), rec.size()).Name().has_value());

  rec = build::OutputStream(0, VORN_STREAM_TYPE_CONTINUOUS, 1, 3, 32, 0.25f, "", "");
  // A label filling its whole field, no zero byte, the (empty) name right behind it.
  std::memset(&rec[OutputStreamView::kLabel], 'L', OutputStreamView::kLabelLen);
  OutputStreamView v(rec.data(), rec.size());
  EXPECT_EQ(v.Label()->size(), OutputStreamView::kLabelLen);
  EXPECT_EQ(v.Name(), "");
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
