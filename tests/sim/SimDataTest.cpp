// The simulator's data stream: the bytes of each kind of data packet, the
// rates, the packing into datagrams, the clock, and the fault options.
#include <map>

#include "GoldenBytes.h"
#include "SimHarness.h"
#include "VornProtocol.h"

namespace vornsim {
namespace test {
namespace {

using vorn::test::BytesEqual;
using vorn::test::Hex;

TEST(SimData, PacketsOfEachKindHaveTheDocumentedBytes) {
  SimOptions o;
  o.channels = 2;   // short frames
  Harness h(o);
  h.sim().Advance(1);
  const auto sent = h.Sent();
  // Time packet.
  auto time = Select(sent, 1, 0, 1);
  ASSERT_EQ(time.size(), 1u);
  EXPECT_TRUE(BytesEqual(time[0], Hex("03010001 30750000 07000000")));
  // Raw of module 1 (stream 1): mod(30000 + 97c + 1009 + 31, 4096) - 2048
  // = 320 and 417 for channels 0 and 1.
  auto raw = Select(sent, 1, 1, 1);
  ASSERT_EQ(raw.size(), 1u);
  EXPECT_TRUE(BytesEqual(raw[0], Hex("04010101 30750000 01000000 4001a101")));
  // hi-res (float, stream 2): (mod(30000 + 2018 + 31, 4096) - 2048) / 16 = 83.0625
  // and 89.125.
  auto hires = Select(sent, 1, 1, 2);
  ASSERT_EQ(hires.size(), 1u);
  EXPECT_TRUE(BytesEqual(hires[0], Hex("05010102 30750000 01000000 0020a642 0040b242")));
  // Module 3 raw is off by default; module 3 lfp is on.
  EXPECT_TRUE(Select(sent, 1, 3, 1).empty());
  EXPECT_EQ(Select(sent, 1, 3, 3).size(), 1u);
  // Digital event 0 at tick 0.
  auto events = Select(sent, 1, 34, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(BytesEqual(events[0], Hex("07012201 30750000 06000000 01000000 00000000 00000000 00000000")));
}

TEST(SimData, SpikeSegmentsCarryTheTemplateAndTheChannelMarker) {
  SimOptions o;
  o.spikeRate = 1000;   // every 30 ticks
  Harness h(o);
  h.sim().Advance(30);
  // Companion module 2, channel 3 (stream 4): phase mod(1237*2 + 937*3, 30) = 5.
  auto spikes = Select(h.Sent(), 1, 2, 4);
  ASSERT_EQ(spikes.size(), 1u);
  const Bytes& s = spikes[0];
  ASSERT_EQ(s.size(), 120u);
  EXPECT_EQ(vorn::LoadU32(&s[4]), 30005u);
  EXPECT_TRUE(BytesEqual(Bytes(s.begin(), s.begin() + 16), Hex("1e010204 35750000 02000000 00003400")));
  const int expected[52] = {0,    0,    0,    0,    0,    0,   0,   0,   0,   0,   -60, -120, -180,
                            -240, -300, -230, -160, -90,  -20, 50,  120, 190, 180, 170, 160,  150,
                            140,  130,  120,  110,  100,  90,  80,  70,  60,  50,  40,  30,   20,
                            10,   0,    0,    0,    0,    0,   0,   0,   0,   0,   0,   0,    0};
  for (int k = 0; k < 52; ++k) EXPECT_EQ(vorn::LoadI16(&s[16 + 2 * k]), expected[k] + 3) << "sample " << k;
}

TEST(SimData, RatesFollowTheStreamPeriods) {
  Harness h;
  h.sim().Advance(30000);   // one second
  const auto sent = h.Sent();
  EXPECT_EQ(Select(sent, 1, 0, 1).size(), 1000u);    // time
  EXPECT_EQ(Select(sent, 1, 1, 1).size(), 30000u);   // raw
  EXPECT_EQ(Select(sent, 1, 1, 2).size(), 2000u);    // hi-res
  EXPECT_EQ(Select(sent, 1, 1, 3).size(), 1000u);    // lfp
  EXPECT_EQ(Select(sent, 1, 1, 4).size(), 200u);     // rms
  EXPECT_EQ(Select(sent, 1, 1, 5).size(), 120u);     // diag (hidden, still sent)
  EXPECT_EQ(Select(sent, 1, 2, 1).size(), 10u);      // spikes of one channel
  EXPECT_EQ(Select(sent, 1, 34, 1).size(), 10u);     // digital events
  EXPECT_EQ(Select(sent, 1, 11, 1).size(), 0u);      // analog raw is off
}

TEST(SimData, DatagramsAreFullAndNeverLongerThan1499Bytes) {
  Harness h;
  h.sim().Advance(300);
  h.packer().Flush();
  const auto& grams = h.transport().datagrams;
  ASSERT_GT(grams.size(), 10u);
  size_t packets = 0;
  for (size_t i = 0; i < grams.size(); ++i) {
    EXPECT_LE(grams[i].size(), 1499u);
    // Every datagram but the last had no room for the next packet.
    if (i + 1 < grams.size()) {
      EXPECT_GT(grams[i].size() + grams[i + 1][0] * 4u, 1499u);
    }
    packets += SplitDatagram(grams[i]).size();
  }
  EXPECT_EQ(packets, h.packer().Counters().packets);
}

TEST(SimData, ClockWrapsAroundWithoutABreakInTheSamples) {
  SimOptions o;
  o.clockStart = 0xFFFFFFFEu;
  Harness h(o);
  h.sim().Advance(4);
  auto raw = Select(h.Sent(), 1, 1, 1);
  ASSERT_EQ(raw.size(), 4u);
  const uint32_t times[4] = {0xFFFFFFFEu, 0xFFFFFFFFu, 0u, 1u};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(vorn::LoadU32(&raw[i][4]), times[i]);
    EXPECT_EQ(vorn::LoadI16(&raw[i][12]), SimDataGenerator::ContSample(1, 1, 0, times[i]));
  }
  EXPECT_EQ(vorn::LoadI16(&raw[2][12]) - vorn::LoadI16(&raw[1][12]), 1);
}

TEST(SimData, RestartBeginsTheClockAgainAtItsStartValue) {
  Harness h;
  h.sim().Advance(600);
  h.Sent();
  h.sim().RestartClock();
  h.sim().Advance(30);
  auto time = Select(h.Sent(), 1, 0, 1);
  ASSERT_EQ(time.size(), 1u);
  EXPECT_EQ(vorn::LoadU32(&time[0][4]), 30000u);
}

TEST(SimData, UnknownModuleDataIsSentWhenAskedFor) {
  Harness h;
  h.sim().SetUnknownModuleData(true);
  h.sim().Advance(60);
  auto unknown = Select(h.Sent(), 1, 200, 1);
  ASSERT_EQ(unknown.size(), 2u);
  EXPECT_TRUE(BytesEqual(unknown[0], Hex("0401c801 30750000 01000000 00000000")));
}

TEST(SimFaults, TotalLossSendsNothingAtAll) {
  FaultRates f;
  f.lossPercent = 100;
  Harness h(SimOptions(), f);
  h.Receive(Request(1, 255, 0));
  h.sim().Advance(3000);
  h.packer().Flush();
  EXPECT_TRUE(h.transport().datagrams.empty());
  EXPECT_EQ(h.packer().Counters().packets, 0u);
  EXPECT_GT(h.packer().Counters().lost, 0u);
}

TEST(SimFaults, DuplicationSendsEveryPacketTwiceInARow) {
  FaultRates f;
  f.dupPercent = 100;
  Harness h(SimOptions(), f);
  h.Receive(Request(1, 255, 0));
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 72u);
  for (size_t i = 0; i < sent.size(); i += 2) EXPECT_EQ(sent[i], sent[i + 1]);
}

TEST(SimFaults, ReorderingSwapsPacketsButLosesNone) {
  FaultRates f;
  f.reorderPercent = 50;
  f.seed = 7;
  Harness h(SimOptions(), f);
  h.Receive(Request(1, 255, 0));
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 36u);
  std::map<int, int> seen;
  int outOfOrder = 0;
  for (size_t i = 0; i < sent.size(); ++i) {
    ++seen[sent[i][2] * 100 + sent[i][10]];
    if (i > 0 && sent[i][13] == vorn::VORN_TYPE_MODULE_DESC && sent[i - 1][13] == vorn::VORN_TYPE_MODULE_DESC &&
        sent[i][2] < sent[i - 1][2]) {
      ++outOfOrder;
    }
  }
  EXPECT_EQ(seen.size(), 36u);
  EXPECT_GT(outOfOrder, 0);
  EXPECT_GT(h.packer().Counters().reordered, 0u);
}

}  // namespace
}  // namespace test
}  // namespace vornsim
