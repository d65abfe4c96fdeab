#include <gtest/gtest.h>

#include <vector>

#include "ByteOrder.h"
#include "EventBuffer.h"
#include "SegmentBuffer.h"

namespace vorn {
namespace {

// A 120-byte segment packet whose time field is t.
std::vector<uint8_t> Segment(uint32_t t) {
  std::vector<uint8_t> p(kSegmentPacketBytes, 0);
  p[0] = 30;
  StoreU32(&p[4], t);
  StoreU16(&p[kSegmentSampleCountOffset], kSegmentSampleCount);
  StoreI16(&p[kSegmentSamplesOffset + 2 * 51], static_cast<int16_t>(t));
  return p;
}

std::vector<uint32_t> Times(const std::vector<uint8_t>& out, uint32_t n, size_t recordBytes) {
  std::vector<uint32_t> t;
  for (uint32_t i = 0; i < n; ++i) t.push_back(LoadU32(&out[i * recordBytes + 4]));
  return t;
}

std::vector<uint32_t> Range(uint32_t from, uint32_t to) {
  std::vector<uint32_t> v;
  for (uint32_t i = from; i <= to; ++i) v.push_back(i);
  return v;
}

TEST(SegmentBuffer, DrainReturnsArrivalsOldestFirstAndEmptiesTheBuffer) {
  SegmentBuffer b;
  for (uint32_t t = 1; t <= 5; ++t) ASSERT_TRUE(b.Push(Segment(t).data(), kSegmentPacketBytes));
  std::vector<uint8_t> out(1024 * kSegmentPacketBytes);
  ASSERT_EQ(b.Drain(out.data(), 1024), 5u);
  EXPECT_EQ(Times(out, 5, kSegmentPacketBytes), Range(1, 5));
  EXPECT_EQ(LoadI16(&out[4 * kSegmentPacketBytes + kSegmentSamplesOffset + 102]), 5);
  EXPECT_EQ(b.Drain(out.data(), 1024), 0u);
}

TEST(SegmentBuffer, OverrunKeepsTheNewestAndCountsEveryArrival) {
  SegmentBuffer b(1024);
  for (uint32_t t = 1; t <= 1500; ++t) b.Push(Segment(t).data(), kSegmentPacketBytes);
  std::vector<uint8_t> out(1024 * kSegmentPacketBytes);
  ASSERT_EQ(b.Drain(out.data(), 1024), 1500u);
  EXPECT_EQ(Times(out, 1024, kSegmentPacketBytes), Range(477, 1500));
  EXPECT_EQ(b.GetOverwritten(), 476u);
}

TEST(SegmentBuffer, SmallDrainTakesTheLastRecordsAndDiscardsTheRest) {
  SegmentBuffer b;
  for (uint32_t t = 1; t <= 10; ++t) b.Push(Segment(t).data(), kSegmentPacketBytes);
  std::vector<uint8_t> out(3 * kSegmentPacketBytes);
  ASSERT_EQ(b.Drain(out.data(), 3), 10u);
  EXPECT_EQ(Times(out, 3, kSegmentPacketBytes), Range(8, 10));
  EXPECT_EQ(b.Drain(out.data(), 3), 0u);

  for (uint32_t t = 1; t <= 4; ++t) b.Push(Segment(t).data(), kSegmentPacketBytes);
  EXPECT_EQ(b.Drain(nullptr, 1024), 0u);   // no output: just emptied
  EXPECT_EQ(b.Drain(out.data(), 3), 0u);
}

TEST(SegmentBuffer, DrainNeverCopiesMoreThanTheRingHolds) {
  SegmentBuffer b(4);
  for (uint32_t t = 1; t <= 6; ++t) b.Push(Segment(t).data(), kSegmentPacketBytes);
  std::vector<uint8_t> out(10 * kSegmentPacketBytes, 0xAA);
  ASSERT_EQ(b.Drain(out.data(), 10), 6u);
  EXPECT_EQ(Times(out, 4, kSegmentPacketBytes), Range(3, 6));
  EXPECT_EQ(out[4 * kSegmentPacketBytes], 0xAA);   // untouched beyond the 4 records
}

TEST(SegmentBuffer, ShortPacketIsRefused) {
  SegmentBuffer b;
  auto p = Segment(1);
  EXPECT_FALSE(b.Push(p.data(), kSegmentPacketBytes - 4));
  EXPECT_EQ(b.GetCount(), 0u);
}

TEST(EventBuffer, KeepsWhole28ByteRecords) {
  EventBuffer b;
  std::vector<uint8_t> p(32, 0x11);
  StoreU32(&p[4], 77);
  EXPECT_FALSE(b.Push(p.data(), 27));
  ASSERT_TRUE(b.Push(p.data(), 32));
  std::vector<uint8_t> out(2 * kEventPacketBytes, 0);
  ASSERT_EQ(b.Drain(out.data(), 2), 1u);
  EXPECT_EQ(LoadU32(&out[4]), 77u);
  EXPECT_EQ(out[27], 0x11);
  EXPECT_EQ(out[28], 0);   // only 28 bytes per record
}

}  // namespace
}  // namespace vorn
