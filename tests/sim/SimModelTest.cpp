// How the simulated instrument acts on what it receives: property sets,
// digital outputs, stim packets, trial records and malformed input.
#include "GoldenBytes.h"
#include "RecordBuilder.h"
#include "SimHarness.h"

namespace vornsim {
namespace test {
namespace {

using vorn::test::BytesEqual;
using vorn::test::Hex;
namespace b = vorn::build;

bool Has(const std::string& line, const std::string& text) { return line.find(text) != std::string::npos; }

TEST(SimSets, EnableSetChangesTheStreamAndIsReportedAgain) {
  Harness h;
  // Raw of module 1, channel 4 (property 49) off: the extension's 20 bytes.
  h.Receive(Hex("05000000 01000000 01013100 01030000 00000000"));
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesEqual(sent[0], Hex("05010100 30750000 01013100 01030000 00000000")));
  EXPECT_EQ(h.sim().EnableMask(1), 0xFFFFFFEFu);   // stream 1 of the layout: module 1 raw
  const std::string line = h.LastLog();
  EXPECT_TRUE(Has(line, "\"kind\":\"set\"")) << line;
  EXPECT_TRUE(Has(line, "\"property\":49"));
  EXPECT_TRUE(Has(line, "\"record\":\"0103000000000000\""));
  EXPECT_TRUE(Has(line, "\"applied\":true"));
  EXPECT_TRUE(Has(line, "\"value\":0"));
  EXPECT_TRUE(Has(line, "\"bytes\":\"0500000001000000010131000103000000000000\""));
}

TEST(SimSets, DisabledChannelCarriesZeroAndAllOffStopsTheStream) {
  Harness h;
  h.Receive(SetPacket(1, 45 + 3, b::Bool(0)));
  h.Sent();
  h.sim().Advance(2);
  auto raw = Select(h.Sent(), 1, 1, 1);
  ASSERT_EQ(raw.size(), 2u);
  EXPECT_EQ(vorn::LoadI16(&raw[0][12 + 2 * 3]), 0);
  EXPECT_NE(vorn::LoadI16(&raw[0][12 + 2 * 2]), 0);
  for (int c = 0; c < 32; ++c) h.Receive(SetPacket(1, static_cast<uint16_t>(45 + c), b::Bool(0)));
  h.Sent();
  h.sim().Advance(100);
  EXPECT_TRUE(Select(h.Sent(), 1, 1, 1).empty());
  // Switching a channel back on restarts the stream.
  h.Receive(SetPacket(1, 45, b::Bool(1)));
  h.sim().Advance(101);
  EXPECT_EQ(Select(h.Sent(), 1, 1, 1).size(), 1u);
}

TEST(SimSets, FilterSelectionAndCustomFilterAreAppliedWithinLimits) {
  Harness h;
  Bytes combo = *h.sim().Property(2, 101);
  vorn::StoreU16(&combo[4], 3);
  h.Receive(SetPacket(2, 101, combo));
  EXPECT_EQ(vorn::LoadU16(h.sim().Property(2, 101)->data() + 4), 3);
  vorn::StoreU16(&combo[4], 4);   // one past the last selection
  h.Receive(SetPacket(2, 101, combo));
  EXPECT_EQ(vorn::LoadU16(h.sim().Property(2, 101)->data() + 4), 3);
  EXPECT_TRUE(Has(h.LastLog(), "\"applied\":false"));
  EXPECT_EQ(h.Sent().size(), 2u);   // the combo box is reported after each set

  // A 2-stage custom filter into the last spike selection (property 114).
  const Bytes custom = b::SosFilter("mine", 0, 300, 0, 0, 2, 0, 6,
                                    {{1, 2, 5, 6}, {0.5f, 0.25f, -1, 0.125f}});
  h.Receive(SetPacket(2, 114, custom));
  EXPECT_EQ(*h.sim().Property(2, 114), custom);
  Bytes tooMany = custom;
  tooMany[151] = 7;   // claims more stages than it holds
  h.Receive(SetPacket(2, 114, tooMany));
  EXPECT_EQ(*h.sim().Property(2, 114), custom);
  EXPECT_TRUE(Has(h.LastLog(), "\"applied\":false"));
}

TEST(SimSets, ReadOnlyAndMismatchedRecordsChangeNothingButAreReported) {
  Harness h;
  const Bytes before = *h.sim().Property(1, 3);
  h.Receive(SetPacket(1, 3, b::PhysicalChannel(0, 3, 3, 9, "moved")));
  EXPECT_EQ(*h.sim().Property(1, 3), before);
  EXPECT_TRUE(Has(h.LastLog(), "\"error\":\"read-only property\""));
  h.Receive(SetPacket(1, 45, b::Int(0)));   // an Int to a Bool property
  EXPECT_EQ((*h.sim().Property(1, 45))[4], 1);
  EXPECT_TRUE(Has(h.LastLog(), "does not match"));
  EXPECT_EQ(h.Sent().size(), 2u);
  h.Receive(SetPacket(1, 999, b::Bool(1)));
  EXPECT_TRUE(Has(h.LastLog(), "\"kind\":\"unknown\""));
  EXPECT_TRUE(h.Sent().empty());
}

TEST(SimDigout, OutputWordIsAppliedReportedAndLoopedBack) {
  Harness h;
  // Outputs 2 high and parallel 0x00FF (digout([2 5], [1 255])): 0x2F0200FF.
  h.Receive(Hex("08000000 00000000 01223500 01040000 ff00022f 00000000 00000000 00000000"));
  EXPECT_EQ(h.sim().OutputLevels(), 0x2);
  EXPECT_EQ(h.sim().ParallelOutput(), 0x00FF);
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(BytesEqual(sent[0], Hex("08012200 30750000 01223500 01040000 ff000200 00000000 00000000 00000000")));
  EXPECT_TRUE(BytesEqual(sent[1], Hex("07012201 30750000 06000000 0200ff00 00000100 00000000 00000000")));
  const std::string line = h.LastLog();
  EXPECT_TRUE(Has(line, "\"kind\":\"digout\"")) << line;
  EXPECT_TRUE(Has(line, "\"word\":788660479"));
  EXPECT_TRUE(Has(line, "\"outputs\":[0,1,0,0]"));
  EXPECT_TRUE(Has(line, "\"parallel\":255"));
  // Output 2 low only: 0x20000000 leaves the parallel word alone.
  h.Receive(Hex("08000000 00000000 01223500 01040000 00000020 00000000 00000000 00000000"));
  EXPECT_EQ(h.sim().OutputLevels(), 0);
  EXPECT_EQ(h.sim().ParallelOutput(), 0x00FF);
}

// The stim packet the extension sends for
// Elect=129;Freq=100;TL=1000;CathDur=0.2;AnodDur=0.2;CathAmp=10;AnodAmp=10.
const char* kStimPacket =
    "0b000000 00000000 01092e01 00000000 08000800 00000000 00000000"
    "64c01200 0aa00600 00a00200 8aa00600";
const char* kStopPacket = "08000000 00000000 01092e01 00000000 02000200 00000000 00000000 00000010";
const char* kStimEnableOn = "05000000 01000000 01000600 01030000 01000000";
const char* kStimEnableOff = "05000000 01000000 01000600 01030000 00000000";

TEST(SimStim, StimPacketIsDecodedAndRefusedWhileStimulationIsOff) {
  Harness h;
  h.Receive(Hex(kStimPacket));
  const std::string line = h.LastLog();
  EXPECT_TRUE(Has(line, "\"kind\":\"stim\"")) << line;
  EXPECT_TRUE(Has(line, "\"module\":9,\"channel\":0,\"electrode\":129"));
  EXPECT_TRUE(Has(line, "\"words\":[1228900,434186,172032,434314]"));
  EXPECT_TRUE(Has(line, "\"header\":1228900,\"action\":0,\"period\":300,\"repeats\":100"));
  EXPECT_TRUE(Has(line, "\"segments\":[434186,172032,434314]"));
  EXPECT_TRUE(Has(line, "\"started\":false"));
  EXPECT_TRUE(Has(line, "\"refused\":\"Stim Enable is off\""));
  EXPECT_TRUE(h.Sent().empty());   // stim packets get no answer
  h.sim().Advance(1000);
  EXPECT_TRUE(Select(h.Sent(), 1, 9, 6).empty());
}

TEST(SimStim, TrainSendsOneSegmentPerPulseUntilStopped) {
  Harness h;
  h.Receive(Hex(kStimEnableOn));
  h.Receive(Hex(kStimPacket));
  EXPECT_TRUE(Has(h.LastLog(), "\"started\":true"));
  h.Sent();
  h.sim().Advance(601);   // pulses at 0, 300, 600
  const auto segs = Select(h.Sent(), 1, 9, 6);
  ASSERT_EQ(segs.size(), 3u);
  EXPECT_EQ(vorn::LoadU32(&segs[1][4]), 30000u + 300u);
  std::string wave = "f6fff6fff6fff6fff6fff6ff" "00000000" "0a000a000a000a000a000a00";
  EXPECT_TRUE(BytesEqual(segs[0], Hex("1e010906 30750000 02000000 00003400" + wave + Zeros(76))));
  // The stop packet (curcyc, no repeats) ends the train at its next pulse.
  h.Receive(Hex(kStopPacket));
  EXPECT_TRUE(Has(h.LastLog(), "\"action\":1,\"period\":0,\"repeats\":0"));
  h.sim().Advance(3000);
  EXPECT_TRUE(Select(h.Sent(), 1, 9, 6).empty());
  EXPECT_FALSE(h.sim().Stimulator().Running(0));
}

TEST(SimStim, SwitchingStimulationOffEndsEveryTrain) {
  Harness h;
  h.Receive(Hex(kStimEnableOn));
  h.Receive(Hex(kStimPacket));
  h.sim().Advance(1);
  EXPECT_TRUE(h.sim().Stimulator().Running(0));
  h.Receive(Hex(kStimEnableOff));
  EXPECT_FALSE(h.sim().StimEnabled());
  EXPECT_FALSE(h.sim().Stimulator().Running(0));
  h.Sent();
  h.sim().Advance(3000);
  EXPECT_TRUE(Select(h.Sent(), 1, 9, 6).empty());
}

TEST(SimStim, TrainEndsAfterItsRepeatsAndAllCycAction) {
  Harness h;
  h.Receive(Hex(kStimEnableOn));
  // 2 pulses, period 100; then an allcyc program of 1 pulse queued behind it.
  h.Receive(Hex("08000000 00000000 01092f01 00000000 02000200 00000000 00000000 02400600"));
  h.Receive(Hex("08000000 00000000 01092f01 00000000 02000200 00000000 00000000 01004020"));
  h.Sent();
  h.sim().Advance(1000);
  const auto segs = Select(h.Sent(), 1, 9, 7);
  ASSERT_EQ(segs.size(), 3u);
  EXPECT_EQ(vorn::LoadU32(&segs[0][4]), 30000u);
  EXPECT_EQ(vorn::LoadU32(&segs[1][4]), 30100u);
  EXPECT_EQ(vorn::LoadU32(&segs[2][4]), 30200u);
}

TEST(SimStim, MalformedStimPacketChangesNothing) {
  Harness h;
  h.Receive(Hex(kStimEnableOn));
  // Word count fields say 3 words, the size says 4.
  h.Receive(Hex("0b000000 00000000 01092e01 00000000 06000600 00000000 00000000"
                "64c01200 0aa00600 00a00200 8aa00600"));
  EXPECT_TRUE(Has(h.LastLog(), "\"error\":\"word count fields"));
  EXPECT_FALSE(h.sim().Stimulator().Running(0));
}

TEST(SimTrial, RecordSetsTheFiveFieldsAndKeepsTheRest) {
  Harness h;
  Bytes record = *h.sim().Operators().Trial(129);
  vorn::StoreU32(&record[540], 2);
  vorn::StoreU32(&record[8], 60);
  vorn::StoreU32(&record[12], 1);
  vorn::StoreU32(&record[16], 5);
  const std::string base = "run";
  std::fill(record.begin() + 28, record.begin() + 540, 0);
  std::copy(base.begin(), base.end(), record.begin() + 28);
  record[4] = 0x55;   // not one of the five fields: the operator keeps its own
  Bytes packet = {141, 0, 0, 0, 1, 0, 0, 0, 129, 0, 1, 0};
  packet.insert(packet.end(), record.begin(), record.end());
  h.Receive(packet);
  const Bytes& now = *h.sim().Operators().Trial(129);
  EXPECT_EQ(vorn::LoadU32(&now[540]), 2u);
  EXPECT_EQ(vorn::LoadU32(&now[8]), 60u);
  EXPECT_EQ(vorn::LoadU32(&now[12]), 1u);
  EXPECT_EQ(vorn::LoadU32(&now[16]), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&now[28])), "run");
  EXPECT_EQ(now[4], 129);
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);   // the operator reports its record again
  EXPECT_EQ(sent[0][1], 129);
  EXPECT_EQ(Bytes(sent[0].begin() + 12, sent[0].end()), now);
  const std::string line = h.LastLog();
  EXPECT_TRUE(Has(line, "\"kind\":\"trial_record\",")) << line;
  EXPECT_TRUE(Has(line, "\"operator\":129,\"status\":2,\"filebase\":\"run\",\"stop_time\":60,"
                        "\"auto_incr\":1,\"incr_num\":5"));
}

TEST(SimInput, MalformedDatagramsAreLoggedAndSurvived) {
  Harness h;
  h.Receive({});
  h.Receive(Hex("00000000 00000000"));              // size 0
  h.Receive(Hex("05000000 00000000 01000600"));     // longer than the datagram
  h.Receive(Hex("02000000 00000000"));              // shorter than a configuration packet
  h.Receive(Hex("03000000 00000000 01000500 ff"));  // a request, then a stray byte
  const auto lines = h.LogLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(Has(lines[0], "\"kind\":\"empty\""));
  EXPECT_TRUE(Has(lines[1], "packet size 0"));
  EXPECT_TRUE(Has(lines[2], "longer than the rest"));
  EXPECT_TRUE(Has(lines[3], "shorter than a configuration packet"));
  EXPECT_TRUE(Has(lines[4], "\"kind\":\"request\""));
  EXPECT_TRUE(Has(lines[5], "\"kind\":\"malformed\""));
  EXPECT_EQ(h.Sent().size(), 1u);
}

TEST(SimOptionsParse, RejectsBadValuesAndAppliesTheFullProfile) {
  auto parse = [](std::vector<const char*> args, SimOptions* o, std::string* e) {
    args.insert(args.begin(), "vornsim");
    return ParseSimOptions(static_cast<int>(args.size()), args.data(), o, e);
  };
  SimOptions o;
  std::string e;
  EXPECT_EQ(parse({"--front-ends", "17"}, &o, &e), ParseResult::kError);
  EXPECT_EQ(parse({"--loss", "101"}, &o, &e), ParseResult::kError);
  EXPECT_EQ(parse({"--operators", "128"}, &o, &e), ParseResult::kError);
  EXPECT_EQ(parse({"--front-ends", "3"}, &o, &e), ParseResult::kError);   // stim front end 5
  EXPECT_EQ(parse({"--channels"}, &o, &e), ParseResult::kError);
  EXPECT_EQ(parse({"--bogus"}, &o, &e), ParseResult::kError);
  EXPECT_EQ(parse({"--help"}, &o, &e), ParseResult::kHelp);
  ASSERT_EQ(parse({"--profile=full", "--operators", "none", "--silent-module", "3:2"}, &o, &e),
            ParseResult::kRun);
  EXPECT_EQ(o.frontEnds, 16);
  EXPECT_EQ(o.contStreams, ContStreams::kAll);
  EXPECT_TRUE(o.operators.empty());
  EXPECT_EQ(o.silentModules.at(3), 2);
}

}  // namespace
}  // namespace test
}  // namespace vornsim
