// The simulator's data stream (the bytes of each kind of data packet, the
// rates, the packing into datagrams, the clock) and its command line,
// including the fault options: lost, duplicated and reordered packets,
// misbehaving operators and a broken digital-input stream.
#include <map>

#include "SimHarness.h"

namespace vornsim {
namespace test {
namespace {

TEST(SimData, PacketsOfEachKindHaveTheDocumentedBytes) {
  SimOptions o;
  o.channels = 2;   // short frames
  Harness h(o);
  h.sim().Advance(1);
  const auto sent = h.Sent();
  const struct {
    int module, stream;
    const char* bytes;
  } cases[] = {
      {0, 1, "03010001 30750000 07000000"},   // time
      // Raw of module 1: mod(30000 + 97c + 1009 + 31, 4096) - 2048 = 320, 417.
      {1, 1, "04010101 30750000 01000000 4001a101"},
      // Float: (mod(30000 + 97c + 2018 + 31, 4096) - 2048) / 16 = 83.0625, 89.125.
      {1, 2, "05010102 30750000 01000000 0020a642 0040b242"},
      {34, 1, "07012201 30750000 06000000 01000000 00000000 00000000 00000000"},   // digital event 0
  };
  for (const auto& c : cases) {
    const auto packets = Select(sent, 1, c.module, c.stream);
    ASSERT_EQ(packets.size(), 1u) << c.module << "/" << c.stream;
    EXPECT_TRUE(BytesEqual(packets[0], Hex(c.bytes)));
  }
  EXPECT_TRUE(Select(sent, 1, 3, 1).empty());   // module 3 raw is off by default, its lfp on
  EXPECT_EQ(Select(sent, 1, 3, 3).size(), 1u);
}

TEST(SimData, SpikeSegmentsCarryTheTemplateAndTheChannelMarker) {
  SimOptions o;
  o.spikeRate = 1000;   // every 30 ticks
  Harness h(o);
  h.sim().Advance(30);
  // Companion module 2, channel 3 (stream 4): phase mod(1237 * 2 + 937 * 3, 30) = 5.
  const auto spikes = Select(h.Sent(), 1, 2, 4);
  ASSERT_EQ(spikes.size(), 1u);
  const Bytes& s = spikes[0];
  ASSERT_EQ(s.size(), 120u);
  EXPECT_TRUE(BytesEqual(Bytes(s.begin(), s.begin() + 16), Hex("1e010204 35750000 02000000 00003400")));
  const int shape[52] = {0,   0,   0,   0,   0,   0,   0,   0,    0,    0,    -60,  -120, -180,
                         -240, -300, -230, -160, -90, -20, 50, 120, 190, 180, 170, 160, 150,
                         140, 130, 120, 110, 100, 90,  80,  70,   60,   50,   40,   30,   20,
                         10,  0,   0,   0,   0,   0,   0,   0,   0,    0,    0,    0,    0};
  for (int k = 0; k < 52; ++k) EXPECT_EQ(vorn::LoadI16(&s[16 + 2 * k]), shape[k] + 3) << "sample " << k;
}

TEST(SimData, RatesFollowTheStreamPeriodsInFullDatagrams) {
  Harness h;
  h.sim().Advance(30000);   // one second
  h.packer().Flush();
  const auto& grams = h.datagrams();
  size_t packets = 0;
  for (size_t i = 0; i < grams.size(); ++i) {
    EXPECT_LE(grams[i].size(), 1499u);
    // Every datagram but the last had no room for the next packet.
    EXPECT_TRUE(i + 1 == grams.size() || grams[i].size() + grams[i + 1][0] * 4u > 1499u) << i;
    packets += SplitDatagram(grams[i]).size();
  }
  EXPECT_EQ(packets, h.packer().Counters().packets);
  const auto sent = h.Sent();
  const int rates[][3] = {{0, 1, 1000},  {1, 1, 30000}, {1, 2, 2000}, {1, 3, 1000}, {1, 4, 200},
                          {1, 5, 120},   // diag: hidden, still sent
                          {2, 1, 10},    {34, 1, 10},   {11, 1, 0}};   // spikes of one channel, events, analog raw off
  for (const auto& r : rates) EXPECT_EQ(Select(sent, 1, r[0], r[1]).size(), static_cast<size_t>(r[2])) << r[0] << "/" << r[1];
}

TEST(SimData, ClockWrapsWithoutABreakAndRestartsAtItsStartValue) {
  Harness h(Parse({"--clock-start", "4294967294"}));
  h.sim().Advance(4);
  const auto raw = Select(h.Sent(), 1, 1, 1);
  ASSERT_EQ(raw.size(), 4u);
  const uint32_t times[4] = {0xFFFFFFFEu, 0xFFFFFFFFu, 0u, 1u};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(vorn::LoadU32(&raw[i][4]), times[i]);
    EXPECT_EQ(vorn::LoadI16(&raw[i][12]), SimDataGenerator::ContSample(1, 1, 0, times[i]));
  }
  EXPECT_EQ(vorn::LoadI16(&raw[2][12]) - vorn::LoadI16(&raw[1][12]), 1);

  // A restart begins again at the start value; module 200's data when asked for.
  Harness d;
  d.sim().Advance(600);
  d.Sent();
  d.sim().RestartClock();
  d.sim().SetUnknownModuleData(true);
  d.sim().Advance(60);
  const auto sent = d.Sent();
  const auto time = Select(sent, 1, 0, 1);
  ASSERT_EQ(time.size(), 2u);
  EXPECT_EQ(vorn::LoadU32(&time[0][4]), 30000u);
  const auto unknown = Select(sent, 1, 200, 1);
  ASSERT_EQ(unknown.size(), 2u);
  EXPECT_TRUE(BytesEqual(unknown[0], Hex("0401c801 30750000 01000000 00000000")));
}

TEST(SimOptionsParse, RejectsBadValuesAndAppliesPerOperatorValues) {
  auto parse = [](std::vector<const char*> args, std::string* error) {
    args.insert(args.begin(), "vornsim");
    SimOptions o;
    return ParseSimOptions(static_cast<int>(args.size()), args.data(), &o, error);
  };
  const std::vector<std::vector<const char*>> rejected = {
      {"--front-ends", "17"}, {"--front-ends", "3"} /* stim front end 5 */, {"--loss", "101"},
      {"--operators", "128"}, {"--channels"}, {"--bogus"}, {"--operator-answers", "129:"},
      {"--operator-answers", ":1"}, {"--operator-answers", "-1"}, {"--operator-answers", "128:1"},
      {"--operator-status", "4294967296"}, {"--operator-status", "129:x"},
      {"--operators", "none", "--operator-status", "129:2"}, {"--no-digin"}, {"--no-digin", "all"}};
  std::string error;
  for (const auto& args : rejected) EXPECT_EQ(parse(args, &error), ParseResult::kError) << args[0] << " " << error;
  EXPECT_EQ(parse({"--operator-answers", "140:1"}, &error), ParseResult::kError);
  EXPECT_EQ(error, "--operator-answers names operator 140, which is not in --operators");
  EXPECT_EQ(parse({"--help"}, &error), ParseResult::kHelp);

  // An id may come before --operators names it; the plain form is for every
  // operator; the last value for an id wins.
  const SimOptions o = Parse({"--operator-status", "140:0", "--operators", "129,140", "--operator-answers", "3",
                              "--operator-answers", "129:1", "--operator-answers=129:2", "--operator-status",
                              "4294967295"});
  EXPECT_EQ(ForOperator(o.operatorStatus, 140), 0u);
  EXPECT_EQ(ForOperator(o.operatorStatus, 129), 4294967295u);
  EXPECT_EQ(ForOperator(o.operatorAnswers, 129), 2);
  EXPECT_EQ(ForOperator(o.operatorAnswers, 140), 3);
}

TEST(SimFaults, LossDuplicationAndReorderingDoWhatTheySay) {
  Harness lossy(Parse({"--loss", "100"}));
  lossy.Receive(Request(1, 255, 0));
  lossy.sim().Advance(3000);
  lossy.packer().Flush();
  EXPECT_TRUE(lossy.datagrams().empty());
  EXPECT_EQ(lossy.packer().Counters().packets, 0u);
  EXPECT_GT(lossy.packer().Counters().lost, 0u);

  Harness doubled(Parse({"--dup", "100"}));
  doubled.Receive(Request(1, 255, 0));
  const auto twice = doubled.Sent();
  ASSERT_EQ(twice.size(), 72u);
  for (size_t i = 0; i < twice.size(); i += 2) EXPECT_EQ(twice[i], twice[i + 1]);

  Harness shuffled(Parse({"--reorder", "50", "--seed", "7"}));
  shuffled.Receive(Request(1, 255, 0));
  const auto sent = shuffled.Sent();
  ASSERT_EQ(sent.size(), 36u);
  std::map<int, int> seen;
  int outOfOrder = 0;
  for (size_t i = 0; i < sent.size(); ++i) {
    ++seen[sent[i][2] * 100 + sent[i][10]];
    outOfOrder += i > 0 && sent[i][13] == vorn::VORN_TYPE_MODULE_DESC &&
                  sent[i - 1][13] == vorn::VORN_TYPE_MODULE_DESC && sent[i][2] < sent[i - 1][2];
  }
  EXPECT_EQ(seen.size(), 36u);
  EXPECT_GT(outOfOrder, 0);
}

TEST(SimOperatorFaults, AnswersRunOutButRecordsStillApplyAndTheStatusIsSet) {
  Harness h(Parse({"--operator-answers", "129:1", "--operator-status", "7", "--operator-answers", "131:2"}));
  h.Receive(Request(129, 0, 1));
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesEqual(sent[0], Hex(OperatorTrialReply("07000000"))));   // the initial status 7
  EXPECT_TRUE(h.Logged({"\"operator\":129,\"answered\":1"}));

  // Silent now: a record is applied but not reported, requests get nothing,
  // also through processor 255, but the descriptor still comes.
  Bytes record = *h.sim().Operators().Trial(129);
  vorn::StoreU32(&record[540], 2);
  h.Receive(SetPacket(0, 1, record, 129));
  EXPECT_EQ(*h.sim().Operators().Trial(129), record);
  EXPECT_TRUE(h.Logged({"\"kind\":\"trial_record\"", "\"applied\":true"}));
  h.Receive(Request(129, 0, 1));
  EXPECT_TRUE(h.Logged({"\"kind\":\"trial_request\"", "\"operator\":129,\"answered\":0"}));
  EXPECT_TRUE(h.Sent().empty());
  h.Receive(Request(255, 0, 1));
  h.Receive(Request(255, 0, 0));
  std::vector<int> from;
  for (const Bytes& p : h.Sent()) from.push_back(p[1]);
  EXPECT_EQ(from, (std::vector<int>{1, 131, 1, 129, 131}));

  // 131 has one answer left: a request for a module it lacks and a reported
  // record do not count, the next request does.
  h.Receive(Request(131, 5, 1));
  h.Receive(SetPacket(0, 1, *h.sim().Operators().Trial(131), 131));
  for (int i = 0; i < 3; ++i) h.Receive(Request(131, 0, 1));
  EXPECT_EQ(h.Sent().size(), 2u);

  Harness never(Parse({"--operator-answers", "0"}));
  never.Receive(Request(129, 0, 1));
  never.Receive(SetPacket(0, 1, *never.sim().Operators().Trial(129), 129));
  EXPECT_TRUE(never.Sent().empty());
}

TEST(SimNoDigin, WithoutTheStreamOrItsSwitchTheCacheIsReadyWithoutDigin) {
  for (const std::string fault : {"stream", "enable"}) {
    SimOptions o = Parse({"--no-digin", fault.c_str()});
    o.eventRate = 1000;
    Harness h(o);
    vorn::VornCache cache;
    h.Discover(cache);
    EXPECT_TRUE(cache.IsReady()) << fault;
    int module = -1, prop = -1;
    EXPECT_EQ(cache.GetDigitalInputEnable(&module, &prop), -1) << fault;
    h.sim().Advance(60);   // events flow only where the stream is left in
    EXPECT_EQ(Select(h.Sent(), 1, 34, 1).size(), fault == "stream" ? 0u : 2u) << fault;
  }
}

}  // namespace
}  // namespace test
}  // namespace vornsim
