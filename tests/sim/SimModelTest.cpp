// How the simulated instrument acts on what it receives: property sets,
// digital outputs, stim packets, trial records and malformed input.
#include "RecordBuilder.h"
#include "SimHarness.h"

namespace vornsim {
namespace test {
namespace {

namespace b = vorn::build;

TEST(SimSets, EnableSetChangesTheStreamAndIsReportedAgain) {
  Harness h;
  // Raw of module 1, channel 4 (property 49) off: the extension's 20 bytes.
  h.Receive("05000000 01000000 01013100 01030000 00000000");
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesEqual(sent[0], Hex("05010100 30750000 01013100 01030000 00000000")));
  EXPECT_EQ(h.sim().EnableMask(1), 0xFFFFFFEFu);   // stream 1 of the layout: module 1 raw
  EXPECT_TRUE(h.Logged({"\"kind\":\"set\"", "\"property\":49", "\"record\":\"0103000000000000\"",
                        "\"applied\":true", "\"value\":0",
                        "\"bytes\":\"0500000001000000010131000103000000000000\""}));

  // The switched-off channel carries zero; all off stops the stream, one on restarts it.
  h.sim().Advance(2);
  const auto raw = Select(h.Sent(), 1, 1, 1);
  ASSERT_EQ(raw.size(), 2u);
  EXPECT_EQ(vorn::LoadI16(&raw[0][12 + 2 * 4]), 0);
  EXPECT_NE(vorn::LoadI16(&raw[0][12 + 2 * 3]), 0);
  for (int c = 0; c < 32; ++c) h.Receive(SetPacket(1, static_cast<uint16_t>(45 + c), b::Bool(0)));
  h.Sent();
  h.sim().Advance(100);
  EXPECT_TRUE(Select(h.Sent(), 1, 1, 1).empty());
  h.Receive(SetPacket(1, 45, b::Bool(1)));
  h.sim().Advance(101);
  EXPECT_EQ(Select(h.Sent(), 1, 1, 1).size(), 1u);
}

TEST(SimSets, SetsWithinTheLimitsAreAppliedOthersChangeNothingButAreLogged) {
  Harness h;
  Bytes combo = *h.sim().Property(2, 101);
  vorn::StoreU16(&combo[4], 3);   // the last selection
  const std::vector<b::SosStage> stages = {{1, 2, 5, 6}, {0.5f, 0.25f, -1, 0.125f}};
  Bytes filter = b::SosFilter("mine", 0, 300, 0, 0, 2, 0, 6, stages);
  for (auto [index, record] : {std::pair<uint16_t, Bytes>{101, combo}, {114, filter}}) {
    h.Receive(SetPacket(2, index, record));
    EXPECT_EQ(*h.sim().Property(2, index), record);
    EXPECT_TRUE(h.Logged({"\"applied\":true"}));
  }
  h.Sent();
  vorn::StoreU16(&combo[4], 4);
  filter[151] = 3;   // claims more stages than it holds
  const struct {
    uint8_t module;
    uint16_t index;
    Bytes record;
    std::string logged;
    size_t replies;   // the property as it stands
  } refused[] = {{2, 101, combo, "\"applied\":false", 1},
                 {2, 114, filter, "beyond the record's end", 1},
                 {2, 114, b::SosFilter("mine", 0, 300, 0, 0, 2, 0, 1, stages), "above maxStages 1", 1},
                 {1, 3, b::PhysicalChannel(0, 3, 3, 9, "moved"), "\"error\":\"read-only property\"", 1},
                 {1, 45, b::Int(0), "does not match", 1},   // an Int to a Bool property
                 {1, 999, b::Bool(1), "\"kind\":\"unknown\"", 0}};
  auto property = [&](uint8_t module, uint16_t index) {
    const Bytes* p = h.sim().Property(module, index);
    return p != nullptr ? *p : Bytes();
  };
  for (const auto& c : refused) {
    const Bytes before = property(c.module, c.index);
    h.Receive(SetPacket(c.module, c.index, c.record));
    EXPECT_EQ(property(c.module, c.index), before) << c.index;
    EXPECT_TRUE(h.Logged({c.logged}));
    EXPECT_EQ(h.Sent().size(), c.replies) << c.index;
  }
}

TEST(SimDigout, OutputWordIsAppliedReportedAndLoopedBack) {
  Harness h;
  // Outputs 2 high and parallel 0x00FF (digout([2 5], [1 255])): 0x2F0200FF.
  h.Receive("08000000 00000000 01223500 01040000 ff00022f 00000000 00000000 00000000");
  EXPECT_EQ(h.sim().OutputLevels(), 0x2);
  EXPECT_EQ(h.sim().ParallelOutput(), 0x00FF);
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(BytesEqual(sent[0], Hex("08012200 30750000 01223500 01040000 ff000200 00000000 00000000 00000000")));
  EXPECT_TRUE(BytesEqual(sent[1], Hex("07012201 30750000 06000000 0200ff00 00000100 00000000 00000000")));
  EXPECT_TRUE(h.Logged({"\"kind\":\"digout\"", "\"word\":788660479", "\"outputs\":[0,1,0,0]", "\"parallel\":255"}));
  // Output 2 low only: 0x20000000 leaves the parallel word alone.
  h.Receive("08000000 00000000 01223500 01040000 00000020 00000000 00000000 00000000");
  EXPECT_EQ(h.sim().OutputLevels(), 0);
  EXPECT_EQ(h.sim().ParallelOutput(), 0x00FF);
}

// The stim packet the extension sends for
// Elect=129;Freq=100;TL=1000;CathDur=0.2;AnodDur=0.2;CathAmp=10;AnodAmp=10.
const char* kStimPacket =
    "0b000000 00000000 01092e01 00000000 08000800 00000000 00000000 64c01200 0aa00600 00a00200 8aa00600";
const char* kStimEnableOn = "05000000 01000000 01000600 01030000 01000000";

TEST(SimStim, StimPacketIsDecodedAndRefusedWhileStimulationIsOff) {
  Harness h;
  h.Receive(kStimPacket);
  EXPECT_TRUE(h.Logged({"\"kind\":\"stim\"", "\"module\":9,\"channel\":0,\"electrode\":129",
                        "\"words\":[1228900,434186,172032,434314]",
                        "\"header\":1228900,\"action\":0,\"period\":300,\"repeats\":100",
                        "\"segments\":[434186,172032,434314]", "\"started\":false",
                        "\"refused\":\"Stim Enable is off\""}));
  EXPECT_TRUE(h.Sent().empty());   // stim packets get no answer
  h.sim().Advance(1000);
  EXPECT_TRUE(Select(h.Sent(), 1, 9, 6).empty());

  // Word count fields that say 3 words where the size says 4: nothing starts.
  h.Receive(kStimEnableOn);
  h.Receive("0b000000 00000000 01092e01 00000000 06000600 00000000 00000000"
            "64c01200 0aa00600 00a00200 8aa00600");
  EXPECT_TRUE(h.Logged({"\"error\":\"word count fields"}));
  EXPECT_FALSE(h.sim().Stimulator().Running(0));
}

TEST(SimStim, TrainSendsOneSegmentPerPulseUntilStoppedOrSwitchedOff) {
  for (bool stopPacket : {true, false}) {
    Harness h;
    h.Receive(kStimEnableOn);
    h.Receive(kStimPacket);
    EXPECT_TRUE(h.Logged({"\"started\":true"}));
    h.Sent();
    h.sim().Advance(601);   // pulses at 0, 300, 600
    const auto segs = Select(h.Sent(), 1, 9, 6);
    ASSERT_EQ(segs.size(), 3u);
    EXPECT_EQ(vorn::LoadU32(&segs[1][4]), 30000u + 300u);
    EXPECT_TRUE(BytesEqual(segs[0], Hex("1e010906 30750000 02000000 00003400 f6fff6fff6fff6fff6fff6ff 00000000"
                                        "0a000a000a000a000a000a00" + Zeros(76))));
    if (stopPacket) {   // curcyc, no repeats: ends the train at its next pulse
      h.Receive("08000000 00000000 01092e01 00000000 02000200 00000000 00000000 00000010");
      EXPECT_TRUE(h.Logged({"\"action\":1,\"period\":0,\"repeats\":0"}));
    } else {
      h.Receive("05000000 01000000 01000600 01030000 00000000");   // Stim Enable off
      EXPECT_FALSE(h.sim().StimEnabled());
      EXPECT_FALSE(h.sim().Stimulator().Running(0));
    }
    h.sim().Advance(3000);
    EXPECT_TRUE(Select(h.Sent(), 1, 9, 6).empty());
    EXPECT_FALSE(h.sim().Stimulator().Running(0));
  }
}

TEST(SimStim, TrainEndsAfterItsRepeatsAndAllCycActionQueuesBehindIt) {
  Harness h;
  h.Receive(kStimEnableOn);
  // 2 pulses, period 100; then an allcyc program of 1 pulse.
  h.Receive("08000000 00000000 01092f01 00000000 02000200 00000000 00000000 02400600");
  h.Receive("08000000 00000000 01092f01 00000000 02000200 00000000 00000000 01004020");
  h.Sent();
  h.sim().Advance(1000);
  const auto segs = Select(h.Sent(), 1, 9, 7);
  ASSERT_EQ(segs.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(vorn::LoadU32(&segs[i][4]), 30000u + 100u * i);
}

TEST(SimTrial, RecordSetsTheFiveFieldsAndIsReportedAgain) {
  Harness h;
  Bytes record = *h.sim().Operators().Trial(129);
  for (auto [offset, value] : {std::pair<size_t, uint32_t>{540, 2}, {8, 60}, {12, 1}, {16, 5}}) {
    vorn::StoreU32(&record[offset], value);   // status, stop_time, auto_incr, incr_num
  }
  std::fill(record.begin() + 28, record.begin() + 540, 0);
  std::copy_n("run", 3, record.begin() + 28);
  Bytes expected = record;
  record[4] = 0x55;   // not one of the five fields: the operator keeps its own
  h.Receive(SetPacket(0, 1, record, 129));
  EXPECT_EQ(*h.sim().Operators().Trial(129), expected);
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][1], 129);
  EXPECT_EQ(Bytes(sent[0].begin() + 12, sent[0].end()), expected);
  EXPECT_TRUE(h.Logged({"\"kind\":\"trial_record\",", "\"operator\":129,\"status\":2,\"filebase\":\"run\","
                                                      "\"stop_time\":60,\"auto_incr\":1,\"incr_num\":5"}));
}

TEST(SimInput, MalformedDatagramsAreLoggedAndSurvived) {
  Harness h;
  h.Receive(Bytes{});
  h.Receive("00000000 00000000");              // size 0
  h.Receive("05000000 00000000 01000600");     // longer than the datagram
  h.Receive("02000000 00000000");              // shorter than a configuration packet
  h.Receive("03000000 00000000 01000500 ff");  // a request, then a stray byte
  const auto lines = h.LogLines();
  const char* expected[] = {"\"kind\":\"empty\"", "packet size 0", "longer than the rest",
                            "shorter than a configuration packet", "\"kind\":\"request\"", "\"kind\":\"malformed\""};
  ASSERT_EQ(lines.size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_NE(lines[i].find(expected[i]), std::string::npos) << lines[i];
  EXPECT_EQ(h.Sent().size(), 1u);
}

TEST(SimInput, EveryPacketIsLoggedWithItsDatagramAndDestination) {
  Harness h;
  const Bytes request = Hex("03000000 00000000 01000500");
  Bytes two = request;
  two.insert(two.end(), request.begin(), request.end());
  h.sim().HandleDatagram(two.data(), two.size(), DatagramAddresses{0xC0A82A14u, 0xC0A82A01u, true});
  h.sim().HandleDatagram(request.data(), request.size(), DatagramAddresses{0xC0A82A14u, 0xC0A82AFFu, true});
  h.sim().HandleDatagram(request.data(), request.size(), DatagramAddresses{0xC0A82A14u, 0, false});
  const auto lines = h.LogLines();
  ASSERT_EQ(lines.size(), 4u);
  const char* expected[][2] = {{"\"dgram\":1,", "\"to\":\"192.168.42.1\""},
                               {"\"dgram\":1,", "\"to\":\"192.168.42.1\""},
                               {"\"dgram\":2,", "\"to\":\"192.168.42.255\""},
                               {"\"dgram\":3,", ""}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_NE(lines[i].find(expected[i][0]), std::string::npos) << lines[i];
    EXPECT_NE(lines[i].find(expected[i][1]), std::string::npos) << lines[i];
  }
  EXPECT_EQ(lines[3].find("\"to\""), std::string::npos) << lines[3];
}

}  // namespace
}  // namespace test
}  // namespace vornsim
