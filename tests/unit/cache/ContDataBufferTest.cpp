#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ByteOrder.h"
#include "ContDataBuffer.h"

namespace vorn {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// A frame of `channels` 16-bit samples, channel c holding base + c.
std::vector<uint8_t> Frame16(uint32_t channels, int base) {
  std::vector<uint8_t> f(channels * 2);
  for (uint32_t c = 0; c < channels; ++c) StoreI16(&f[2 * c], static_cast<int16_t>(base + static_cast<int>(c)));
  return f;
}

void Write(ContDataBuffer<int16_t>& b, uint32_t t, int base) {
  auto f = Frame16(b.GetChannelCount(), base);
  ASSERT_TRUE(b.WriteFrame(f.data(), f.size(), t));
}

std::vector<float> Latest(const ContDataBuffer<int16_t>& b, uint32_t channel, uint32_t count,
                          uint32_t* first = nullptr, bool scale = false) {
  std::vector<float> out(count, -1.0f);
  uint32_t t = 0;
  uint32_t n = b.ReadLatest(&t, out.data(), channel, count, scale);
  out.resize(n);
  if (first) *first = t;
  return out;
}

const float kMarker16 = -258.0f;   // 0xFEFE as a signed 16-bit sample

TEST(ContDataBuffer, CapacityFollowsThePeriodAndReadLatestIsClampedToIt) {
  ContDataBuffer<int16_t> full(150000 / 1, 2, 1, 1.0);
  ContDataBuffer<int16_t> slow(150000 / 30, 2, 30, 1.0);
  EXPECT_EQ(full.GetCapacity(), 150000u);
  EXPECT_EQ(slow.GetCapacity(), 5000u);
  for (uint32_t t = 1; t <= 10; ++t) Write(slow, t * 30, static_cast<int>(t) * 10);
  uint32_t first = 0;
  auto v = Latest(slow, 1, 6000, &first);
  ASSERT_EQ(v.size(), 5000u);
  EXPECT_EQ(first, 300u - 30u * 5000u);   // unsigned arithmetic as the readers define it
  // Oldest first; frames before the first stored one read as zero.
  EXPECT_EQ(v[4989], 0.0f);
  EXPECT_EQ(v[4990], 11.0f);
  EXPECT_EQ(v[4999], 101.0f);
}

TEST(ContDataBuffer, ReadsNewestFramesOfOneChannelAcrossTheRingBoundary) {
  ContDataBuffer<int16_t> b(8, 4, 1, 1.0);
  for (uint32_t t = 1; t <= 11; ++t) Write(b, t, static_cast<int>(t) * 100);   // wraps once
  uint32_t first = 0;
  auto v = Latest(b, 2, 5, &first);
  EXPECT_EQ(first, 6u);
  EXPECT_EQ(v, (std::vector<float>{702, 802, 902, 1002, 1102}));
  v = Latest(b, 3, 100);
  ASSERT_EQ(v.size(), 8u);
  EXPECT_EQ(v.front(), 403.0f);
  EXPECT_EQ(v.back(), 1103.0f);
}

TEST(ContDataBuffer, ChannelIsTheElectrodeModulo32AndMissingChannelsGiveNothing) {
  ContDataBuffer<int16_t> b(16, 32, 1, 1.0);
  Write(b, 1, 1000);
  auto v = Latest(b, 37, 1);   // zero-based electrode 37 reads channel 5
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0], 1005.0f);

  ContDataBuffer<int16_t> narrow(16, 4, 1, 1.0);
  Write(narrow, 1, 0);
  EXPECT_TRUE(Latest(narrow, 5, 4).empty());   // no channel 5 in a 4-channel frame
  float out[4];
  EXPECT_EQ(narrow.ReadFrom(out, 1, 5, 4, false), 0u);
}

TEST(ContDataBuffer, ScaleIsAppliedInDoublePrecision) {
  ContDataBuffer<int16_t> b(4, 1, 1, 0.1);
  Write(b, 1, -7);
  auto v = Latest(b, 0, 1, nullptr, true);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0], static_cast<float>(-7 * 0.1));

  ContDataBuffer<float> f(4, 2, 1, 2.0);
  uint8_t frame[8];
  StoreF32(frame, 1.5f);
  StoreF32(frame + 4, -3.25f);
  ASSERT_TRUE(f.WriteFrame(frame, sizeof frame, 5));
  float out = 0;
  uint32_t t = 0;
  ASSERT_EQ(f.ReadLatest(&t, &out, 1, 1, true), 1u);
  EXPECT_EQ(out, -6.5f);
}

TEST(ContDataBuffer, GapWritesMarkerFramesAndWarnsWithTheStepInPeriods) {
  ContDataBuffer<int16_t> b(100, 2, 10, 1.0);
  CaptureStderr();
  Write(b, 100, 1);   // first frame: never a warning
  Write(b, 110, 2);   // one period: no warning
  EXPECT_EQ(GetCapturedStderr(), "");

  CaptureStderr();
  Write(b, 140, 3);   // three periods: two frames missing
  EXPECT_EQ(GetCapturedStderr(), "Warning: missed 3 data points\n");
  uint32_t first = 0;
  auto v = Latest(b, 1, 5, &first);
  EXPECT_EQ(first, 90u);
  // Frames one period apart, the newest carrying the last timestamp.
  EXPECT_EQ(v, (std::vector<float>{2, 3, kMarker16, kMarker16, 4}));
  EXPECT_EQ(b.GetCounters().framesStored, 3u);
  EXPECT_EQ(b.GetCounters().framesMissed, 2u);

  // ReadFrom lines up with the timestamps because the markers hold the gap.
  float out[3];
  ASSERT_EQ(b.ReadFrom(out, 110, 1, 3, false), 3u);
  EXPECT_EQ(out[0], kMarker16);
  EXPECT_EQ(out[2], 4.0f);

  CaptureStderr();
  Write(b, 160, 5);   // two periods report 2
  EXPECT_EQ(GetCapturedStderr(), "Warning: missed 2 data points\n");
}

TEST(ContDataBuffer, HugeGapCostsAtMostOneRingOfMarkers) {
  ContDataBuffer<float> b(50, 1, 1, 1.0);
  uint8_t frame[4];
  StoreF32(frame, 7.0f);
  ASSERT_TRUE(b.WriteFrame(frame, 4, 1));
  CaptureStderr();
  ASSERT_TRUE(b.WriteFrame(frame, 4, 3000000001u));
  EXPECT_EQ(GetCapturedStderr(), "Warning: missed 3000000000 data points\n");
  std::vector<float> out(50);
  uint32_t t = 0;
  ASSERT_EQ(b.ReadLatest(&t, out.data(), 0, 50, false), 50u);
  float marker;
  const uint32_t bits = 0xFEFEFEFEu;
  std::memcpy(&marker, &bits, 4);
  for (int i = 0; i < 49; ++i) EXPECT_EQ(out[i], marker) << i;
  EXPECT_EQ(out[49], 7.0f);
  EXPECT_EQ(b.GetCounters().framesMissed, 2999999999u);
}

TEST(ContDataBuffer, LateAndDuplicateFramesAreIgnored) {
  ContDataBuffer<int16_t> b(10, 1, 1, 1.0);
  Write(b, 0, 99);   // time 0 is not after "no frame yet"
  EXPECT_EQ(b.GetCounters().lateIgnored, 1u);
  Write(b, 200000, 1);
  Write(b, 200000, 2);
  Write(b, 199999, 3);
  Write(b, 200000 - 150000, 4);   // a step back of exactly the ring's span
  EXPECT_EQ(b.GetCounters().lateIgnored, 4u);
  EXPECT_EQ(b.GetCounters().restarts, 0u);
  EXPECT_EQ(b.GetLastTimestamp(), 200000u);
  EXPECT_EQ(Latest(b, 0, 1), (std::vector<float>{1}));
}

TEST(ContDataBuffer, ClockJumpingBackMoreThanTheRingSpanRestartsTheRing) {
  ContDataBuffer<int16_t> b(4, 1, 1, 1.0);
  for (uint32_t t = 200000; t < 200004; ++t) Write(b, t, 50);
  CaptureStderr();
  Write(b, 100, 7);   // restarted instrument
  Write(b, 101, 8);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(b.GetCounters().restarts, 1u);
  EXPECT_EQ(b.GetLastTimestamp(), 101u);
  uint32_t first = 0;
  // Nothing of the old run is visible: older frames read as an empty ring.
  EXPECT_EQ(Latest(b, 0, 4, &first), (std::vector<float>{0, 0, 7, 8}));
  EXPECT_EQ(first, 97u);

  // The 32-bit clock wrapping around is the same case.
  ContDataBuffer<int16_t> w(4, 1, 1, 1.0);
  Write(w, 0xFFFFFFF0u, 1);
  Write(w, 5, 2);
  EXPECT_EQ(Latest(w, 0, 2), (std::vector<float>{0, 2}));
}

TEST(ContDataBuffer, ReadFromHonoursTheRingLimits) {
  ContDataBuffer<int16_t> b(10, 1, 2, 1.0);
  for (uint32_t i = 1; i <= 30; ++i) Write(b, 1000 + 2 * i, static_cast<int>(i));
  const uint32_t last = 1060;
  std::vector<float> out(20, -1.0f);

  CaptureStderr();
  EXPECT_EQ(b.ReadFrom(out.data(), last, 0, 5, false), 0u);   // nothing after the newest
  EXPECT_EQ(GetCapturedStderr(), "");

  EXPECT_EQ(b.ReadFrom(out.data(), last - 10 * 2, 0, 20, false), 10u);   // exactly the ring
  EXPECT_EQ(out[0], 21.0f);
  EXPECT_EQ(out[9], 30.0f);

  EXPECT_EQ(b.ReadFrom(out.data(), last - 6, 0, 2, false), 2u);   // count below the age
  EXPECT_EQ(out[0], 28.0f);
  EXPECT_EQ(out[1], 29.0f);

  CaptureStderr();
  EXPECT_EQ(b.ReadFrom(out.data(), last - 11 * 2, 0, 20, false), 0u);
  EXPECT_EQ(GetCapturedStderr(), "warning: invalid timestamp\n");
  CaptureStderr();
  EXPECT_EQ(b.ReadFrom(out.data(), last + 1, 0, 20, false), 0u);
  EXPECT_EQ(GetCapturedStderr(), "warning: timestamp: 1061, 1060\n");
}

TEST(ContDataBuffer, ManyChannelsInOnePassEqualSingleReads) {
  ContDataBuffer<int16_t> b(64, 32, 1, 0.5);
  for (uint32_t t = 1; t <= 100; ++t) Write(b, t, static_cast<int>(t) * 3);
  const std::vector<uint32_t> channels = {5, 37, 0, 31, 64 + 9};
  std::vector<std::vector<float>> rows(channels.size(), std::vector<float>(70));
  std::vector<float*> outs;
  for (auto& r : rows) outs.push_back(r.data());
  uint32_t first = 0;
  ASSERT_EQ(b.ReadLatestChannels(&first, outs.data(), channels.data(), channels.size(), 70, true), 64u);
  for (size_t j = 0; j < channels.size(); ++j) {
    std::vector<float> single(70);
    uint32_t t = 0;
    ASSERT_EQ(b.ReadLatest(&t, single.data(), channels[j], 70, true), 64u);
    EXPECT_EQ(t, first);
    EXPECT_TRUE(std::equal(single.begin(), single.begin() + 64, rows[j].begin())) << j;
  }
  ASSERT_EQ(b.ReadFromChannels(outs.data(), 80, channels.data(), channels.size(), 70, false), 20u);
  EXPECT_EQ(rows[1][0], 81 * 3 + 5);
}

TEST(ContDataBuffer, RefusesFramesShorterThanOneFrameAndDegenerateShapes) {
  ContDataBuffer<int16_t> b(10, 4, 1, 1.0);
  auto f = Frame16(4, 0);
  EXPECT_FALSE(b.WriteFrame(f.data(), 7, 1));
  EXPECT_EQ(b.GetCounters().framesStored, 0u);

  ContDataBuffer<int16_t> noChannels(10, 0, 1, 1.0);
  ContDataBuffer<int16_t> noPeriod(10, 4, 0, 1.0);
  for (ContDataBuffer<int16_t>* d : {&noChannels, &noPeriod}) {
    EXPECT_FALSE(d->WriteFrame(f.data(), f.size(), 1));
    float out[4];
    uint32_t t = 0;
    EXPECT_EQ(d->ReadLatest(&t, out, 0, 4, true), 0u);
    EXPECT_EQ(d->ReadFrom(out, 1, 0, 4, true), 0u);
  }
}

}  // namespace
}  // namespace vorn
