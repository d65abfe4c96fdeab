#include <gtest/gtest.h>

#include <vector>

#include "ByteOrder.h"
#include "ContDataBuffer.h"
#include "EventBuffer.h"
#include "SegmentBuffer.h"

namespace vorn {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
using Floats = std::vector<float>;
using Cont16 = ContDataBuffer<int16_t>;
const float kMarker16 = -258.0f;   // 0xFEFE as a signed 16-bit sample

// Writes a frame whose channel c holds base + c.
void Write(Cont16& b, uint32_t t, int base) {
  std::vector<uint8_t> f(b.GetChannelCount() * 2);
  for (uint32_t c = 0; c < b.GetChannelCount(); ++c) StoreI16(&f[2 * c], base + c);
  ASSERT_TRUE(b.WriteFrame(f.data(), f.size(), t));
}

// ReadLatest (wanted 0) or ReadFrom (a wanted time) of one channel, unscaled.
Floats Read(const Cont16& b, uint32_t channel, uint32_t count, uint32_t wanted = 0,
            uint32_t* first = nullptr) {
  Floats out(count);
  uint32_t t = 0;
  out.resize(wanted != 0 ? b.ReadFrom(out.data(), wanted, channel, count, false)
                         : b.ReadLatest(&t, out.data(), channel, count, false));
  if (first) *first = t;
  return out;
}

TEST(ContDataBuffer, ReadsOneChannelOfTheNewestFramesAcrossTheRingBoundaryScaledInDouble) {
  Cont16 b(8, 4, 1, 1.0);
  for (int t = 1; t <= 11; ++t) Write(b, t, t * 100);   // wraps once
  uint32_t first = 0;
  EXPECT_EQ(Read(b, 2, 5, 0, &first), (Floats{702, 802, 902, 1002, 1102}));
  EXPECT_EQ(first, 6u);
  EXPECT_EQ(Read(b, 3 + 32, 100), (Floats{403, 503, 603, 703, 803, 903, 1003, 1103}));   // electrode 35
  EXPECT_EQ(Read(b, 5, 4), Floats{});   // no channel 5 in a 4-channel frame
  EXPECT_EQ(Read(b, 5, 4, 5), Floats{});

  Cont16 scaled(4, 1, 1, 0.1);
  Write(scaled, 1, -396);
  float v = 0;
  ASSERT_EQ(scaled.ReadLatest(&first, &v, 0, 1, true), 1u);
  EXPECT_EQ(v, static_cast<float>(-396 * 0.1));   // scaled in double, not as -396.0f * 0.1f
}

TEST(ContDataBuffer, GapOfKPeriodsWritesKMinus1MarkerFramesAtMostOneRing) {
  Cont16 b(100, 2, 10, 1.0);
  CaptureStderr();
  Write(b, 100, 1);   // first frame and a one-period step: no warning
  Write(b, 110, 2);
  Write(b, 140, 3);
  EXPECT_EQ(GetCapturedStderr(), "Warning: missed 3 data points\n");
  uint32_t first = 0;
  EXPECT_EQ(Read(b, 1, 5, 0, &first), (Floats{2, 3, kMarker16, kMarker16, 4}));
  EXPECT_EQ(first, 90u);
  EXPECT_EQ(Read(b, 1, 3, 110), (Floats{kMarker16, kMarker16, 4}));   // in line with the times

  Cont16 small(50, 1, 1, 1.0);
  Write(small, 1, 7);
  CaptureStderr();
  Write(small, 3000000001u, 8);
  EXPECT_EQ(GetCapturedStderr(), "Warning: missed 3000000000 data points\n");
  Floats ring(49, kMarker16);
  ring.push_back(8);
  EXPECT_EQ(Read(small, 0, 60), ring);
}

TEST(ContDataBuffer, BackwardStepsWithinTheRingSpanAreIgnoredLongerOnesRestartIt) {
  Cont16 b(4, 1, 1, 1.0);
  Write(b, 0, 99);   // time 0 is not after "no frame yet"
  Write(b, 200000, 1);
  for (uint32_t t : {200000u, 199999u, 200000u - 150000u}) Write(b, t, 5);
  EXPECT_EQ(b.GetCounters().lateIgnored, 4u);
  EXPECT_EQ(Read(b, 0, 2), (Floats{0, 1}));
  CaptureStderr();
  Write(b, 200000 - 150001, 7);   // a restarted instrument
  Write(b, 200000 - 150000, 8);
  EXPECT_EQ(GetCapturedStderr(), "");
  uint32_t first = 0;
  EXPECT_EQ(Read(b, 0, 4, 0, &first), (Floats{0, 0, 7, 8}));   // nothing of the old run
  EXPECT_EQ(first, 200000u - 150000u - 4u);

  Cont16 w(4, 1, 1, 1.0);   // the 32-bit clock wrapping is the same case
  Write(w, 0xFFFFFFF0u, 1);
  Write(w, 5, 2);
  EXPECT_EQ(Read(w, 0, 2), (Floats{0, 2}));
}

TEST(ContDataBuffer, ReadFromStaysInsideTheRingAndRefusesFutureOrLostTimes) {
  Cont16 b(10, 1, 2, 1.0);
  for (int i = 1; i <= 30; ++i) Write(b, 1000 + 2 * i, i);   // the newest at 1060
  CaptureStderr();
  EXPECT_EQ(Read(b, 0, 5, 1060), Floats{});   // nothing after the newest
  EXPECT_EQ(Read(b, 0, 20, 1040), Read(b, 0, 10));   // exactly the ring
  EXPECT_EQ(Read(b, 0, 2, 1054), (Floats{28, 29}));
  EXPECT_EQ(GetCapturedStderr(), "");
  CaptureStderr();
  EXPECT_EQ(Read(b, 0, 20, 1038), Floats{});
  EXPECT_EQ(Read(b, 0, 20, 1061), Floats{});
  EXPECT_EQ(GetCapturedStderr(), "warning: invalid timestamp\nwarning: timestamp: 1061, 1060\n");
}

TEST(ContDataBuffer, RefusesShortFramesAndDegenerateShapesStoreNothing) {
  std::vector<uint8_t> f(8, 0);
  Cont16 b(10, 4, 1, 1.0), noChannels(10, 0, 1, 1.0), noPeriod(10, 4, 0, 1.0);
  EXPECT_FALSE(b.WriteFrame(f.data(), 7, 1));
  EXPECT_EQ(b.GetCounters().framesStored, 0u);
  for (Cont16* d : {&noChannels, &noPeriod}) {
    EXPECT_FALSE(d->WriteFrame(f.data(), f.size(), 1));
    EXPECT_EQ(Read(*d, 0, 4), Floats{});
    EXPECT_EQ(Read(*d, 0, 4, 1), Floats{});
  }
}

// A 120-byte segment packet whose time field and last sample are t.
std::vector<uint8_t> Segment(uint32_t t) {
  std::vector<uint8_t> p(kSegmentPacketBytes, 0);
  StoreU32(&p[4], t);
  StoreI16(&p[kSegmentPacketBytes - 2], t);
  return p;
}

TEST(SegmentBuffer, DrainCopiesTheNewestOldestFirstCountsEveryArrivalAndEmpties) {
  struct Case {
    uint32_t capacity, pushed, max, firstCopied, copied;
  };
  for (const Case& c : {Case{1024, 5, 1024, 1, 5}, Case{1024, 1500, 1024, 477, 1024},
                        Case{1024, 10, 3, 8, 3}, Case{4, 6, 10, 3, 4}}) {
    SCOPED_TRACE(c.pushed);
    SegmentBuffer b(c.capacity);
    for (uint32_t t = 1; t <= c.pushed; ++t) ASSERT_TRUE(b.Push(Segment(t).data(), kSegmentPacketBytes));
    std::vector<uint8_t> out((c.max + 1) * kSegmentPacketBytes, 0xAA);
    ASSERT_EQ(b.Drain(out.data(), c.max), c.pushed);
    for (uint32_t i = 0; i < c.copied; ++i) {
      const auto want = Segment(c.firstCopied + i);
      EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin() + i * kSegmentPacketBytes)) << i;
    }
    EXPECT_EQ(out[c.copied * kSegmentPacketBytes], 0xAA);   // nothing written past the copies
    EXPECT_EQ(b.Drain(out.data(), c.max), 0u);
  }
  SegmentBuffer b;   // no output: just emptied
  for (uint32_t t = 1; t <= 4; ++t) b.Push(Segment(t).data(), kSegmentPacketBytes);
  EXPECT_EQ(b.Drain(nullptr, 1024), 0u);
  std::vector<uint8_t> out(kSegmentPacketBytes);
  EXPECT_EQ(b.Drain(out.data(), 1), 0u);
  EXPECT_FALSE(b.Push(Segment(1).data(), kSegmentPacketBytes - 4));
  EXPECT_EQ(b.GetCount(), 0u);
}

TEST(EventBuffer, RefusesShortPacketsAndKeepsOnly28BytesOfLongerOnes) {
  EventBuffer e;
  std::vector<uint8_t> p(32, 0x11), out(2 * kEventPacketBytes, 0);
  EXPECT_FALSE(e.Push(p.data(), kEventPacketBytes - 1));
  ASSERT_TRUE(e.Push(p.data(), 32));
  ASSERT_EQ(e.Drain(out.data(), 2), 1u);
  EXPECT_EQ(out[kEventPacketBytes - 1], 0x11);
  EXPECT_EQ(out[kEventPacketBytes], 0);
}

}  // namespace
}  // namespace vorn
