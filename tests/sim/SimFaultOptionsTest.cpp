// The simulator's misbehaving operators and broken digital-input stream:
// --operator-answers, --operator-status and --no-digin, from the command
// line to what the instrument then sends, logs and lets a cache discover.
#include "GoldenBytes.h"
#include "RecordBuilder.h"
#include "RecordView.h"
#include "SimHarness.h"
#include "VornCache.h"

namespace vornsim {
namespace test {
namespace {

using vorn::test::BytesEqual;
using vorn::test::Hex;
namespace b = vorn::build;

bool Has(const std::string& line, const std::string& text) { return line.find(text) != std::string::npos; }

SimOptions Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "vornsim");
  SimOptions o;
  std::string error;
  EXPECT_EQ(ParseSimOptions(static_cast<int>(args.size()), args.data(), &o, &error),
            ParseResult::kRun)
      << error;
  return o;
}

std::string ParseError(std::vector<const char*> args) {
  args.insert(args.begin(), "vornsim");
  SimOptions o;
  std::string error;
  if (ParseSimOptions(static_cast<int>(args.size()), args.data(), &o, &error) != ParseResult::kError) {
    return "accepted";
  }
  return error;
}

// A trial record packet to operator `id` (141 words, time 1), as the
// extension sends it.
Bytes TrialRecordPacket(int id, const Bytes& record) {
  Bytes p(12 + record.size(), 0);
  p[0] = static_cast<uint8_t>(p.size() / 4);
  p[4] = 1;
  p[8] = static_cast<uint8_t>(id);
  p[10] = 1;
  std::copy(record.begin(), record.end(), p.begin() + 12);
  return p;
}

Bytes WithStatus(Bytes record, uint32_t status) {
  vorn::StoreU32(&record[540], status);
  return record;
}

TEST(SimFaultOptions, ParsingChecksValuesAndOperatorIds) {
  EXPECT_NE(ParseError({"--operator-answers", "140:1"}), "accepted");   // not an operator
  EXPECT_NE(ParseError({"--operator-answers", "129:"}), "accepted");
  EXPECT_NE(ParseError({"--operator-answers", ":1"}), "accepted");
  EXPECT_NE(ParseError({"--operator-answers", "-1"}), "accepted");
  EXPECT_NE(ParseError({"--operator-answers", "128:1"}), "accepted");
  EXPECT_NE(ParseError({"--operator-status", "4294967296"}), "accepted");
  EXPECT_NE(ParseError({"--operator-status", "129:x"}), "accepted");
  EXPECT_NE(ParseError({"--operators", "none", "--operator-status", "129:2"}), "accepted");
  EXPECT_NE(ParseError({"--no-digin"}), "accepted");
  EXPECT_NE(ParseError({"--no-digin", "all"}), "accepted");
  EXPECT_EQ(ParseError({"--operator-answers", "140:1"}),
            "--operator-answers names operator 140, which is not in --operators");

  // An id may come before --operators names it; the plain form is for every
  // operator; the last value for an id wins.
  const SimOptions o = Parse({"--operator-status", "140:0", "--operators", "129,140",
                              "--operator-answers", "3", "--operator-answers", "129:1",
                              "--operator-answers=129:2", "--operator-status", "4294967295",
                              "--no-digin=enable"});
  EXPECT_EQ(ForOperator(o.operatorStatus, 140), 0u);
  EXPECT_EQ(ForOperator(o.operatorStatus, 129), 4294967295u);
  EXPECT_EQ(ForOperator(o.operatorAnswers, 129), 2);
  EXPECT_EQ(ForOperator(o.operatorAnswers, 140), 3);
  EXPECT_EQ(o.diginFault, DiginFault::kEnable);
  EXPECT_EQ(Parse({"--no-digin", "stream"}).diginFault, DiginFault::kStream);
  const SimOptions plain = Parse({});
  EXPECT_EQ(ForOperator(plain.operatorAnswers, 129), std::nullopt);
  EXPECT_EQ(plain.diginFault, DiginFault::kNone);
}

TEST(SimOperatorAnswers, OperatorFallsSilentAfterItsFirstAnswer) {
  Harness h(Parse({"--operator-answers", "129:1"}));
  const Bytes initial = *h.sim().Operators().Trial(129);

  // First trial request: answered with the record.
  h.Receive(Request(129, 0, 1));
  auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesEqual(Bytes(sent[0].begin(), sent[0].begin() + 12), Hex("8d810000 30750000 81000100")));
  EXPECT_EQ(Bytes(sent[0].begin() + 12, sent[0].end()), initial);
  EXPECT_TRUE(Has(h.LastLog(), "\"operator\":129,\"answered\":1"));

  // A record is still applied, but no longer reported.
  h.Receive(TrialRecordPacket(129, WithStatus(initial, 2)));
  EXPECT_EQ(*h.sim().Operators().Trial(129), WithStatus(initial, 2));
  EXPECT_TRUE(h.Sent().empty());
  EXPECT_TRUE(Has(h.LastLog(), "\"kind\":\"trial_record\""));
  EXPECT_TRUE(Has(h.LastLog(), "\"applied\":true"));

  // Further trial requests, also through processor 255, get nothing.
  h.Receive(Request(129, 0, 1));
  EXPECT_TRUE(h.Sent().empty());
  EXPECT_TRUE(Has(h.LastLog(), "\"kind\":\"trial_request\""));
  EXPECT_TRUE(Has(h.LastLog(), "\"operator\":129,\"answered\":0"));
  h.Receive(Request(255, 0, 1));   // the KEL answers too, with its property 1
  sent = h.Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0][1], 1);
  EXPECT_EQ(sent[1][1], 131);

  // The silent operator still answers for its descriptor; 131 is unaffected.
  h.Receive(Request(255, 0, 0));
  sent = h.Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1][1], 129);
  EXPECT_EQ(sent[1][13], vorn::VORN_TYPE_OPERATOR_DESC);
  h.Receive(TrialRecordPacket(131, WithStatus(*h.sim().Operators().Trial(131), 3)));
  EXPECT_EQ(h.Sent().size(), 1u);
}

TEST(SimOperatorAnswers, ZeroNeverAnswersAndTheLimitCountsAnswersOnly) {
  Harness h(Parse({"--operator-answers", "0", "--operator-answers", "131:2"}));
  h.Receive(Request(129, 0, 1));
  EXPECT_TRUE(h.Sent().empty());
  h.Receive(TrialRecordPacket(129, *h.sim().Operators().Trial(129)));
  EXPECT_TRUE(h.Sent().empty());

  h.Receive(Request(131, 5, 1));   // a module the operator lacks: no answer, not counted
  EXPECT_TRUE(h.Sent().empty());
  const Bytes record = *h.sim().Operators().Trial(131);
  h.Receive(Request(131, 0, 1));
  EXPECT_EQ(h.Sent().size(), 1u);
  h.Receive(TrialRecordPacket(131, record));   // reported: one answer is left
  EXPECT_EQ(h.Sent().size(), 1u);
  h.Receive(Request(131, 0, 1));
  EXPECT_EQ(h.Sent().size(), 1u);
  h.Receive(TrialRecordPacket(131, record));
  h.Receive(Request(131, 0, 1));
  EXPECT_TRUE(h.Sent().empty());
}

TEST(SimOperatorStatus, InitialStatusCodeIsWhatTheOperatorReports) {
  Harness h(Parse({"--operator-status", "7", "--operator-status", "131:0"}));
  h.Receive(Request(129, 0, 1));
  auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesEqual(
      sent[0], Hex("8d810000 30750000 81000100"                      // address 129/0/1
                   "01150000 81000000 00000000 00000000 01000000" +  // stop 0, incr 0, incr_num 1
                   Zeros(8) + TextHex("C:\\data\\op129\\trial") + Zeros(493) +
                   "07000000" + Zeros(8))));                          // status 7
  EXPECT_EQ(*h.sim().Operators().Trial(131), WithStatus(InitialTrialRecord(131), 0));

  // A record sent back sets the status like any other.
  h.Receive(TrialRecordPacket(131, WithStatus(InitialTrialRecord(131), 1)));
  EXPECT_EQ(vorn::LoadU32(&(*h.sim().Operators().Trial(131))[540]), 1u);
}

// The start-up's discovery against the simulator, without sockets.
void Discover(Harness& h, vorn::VornCache& cache) {
  h.Receive(Request(255, 0, 0));
  h.Receive(Request(1, 0, 5));
  h.Receive(Request(1, 255, 0));
  auto feed = [&] {
    for (const Bytes& p : h.Sent()) cache.ProcessPacket(p.data(), p.size());
  };
  feed();
  for (int id : cache.ListIncompleteModules()) h.Receive(Request(1, static_cast<uint8_t>(id), 0xFFFF));
  feed();
}

// Outputs 1 high: the digital output set of digout(1, 1).
const char* kDigoutOutput1High = "08000000 00000000 01223500 01040000 00000110 00000000 00000000 00000000";

TEST(SimNoDigin, WithoutTheStreamTheCacheIsReadyAndNoEventIsSent) {
  SimOptions o = Parse({"--no-digin", "stream"});
  o.eventRate = 1000;
  Harness h(o);
  const vorn::BlockDescView block(h.sim().Property(34, 2)->data(), h.sim().Property(34, 2)->size());
  EXPECT_EQ(block.ItemCount(), 0u);
  for (int k : {15, 16, 17}) EXPECT_EQ((*h.sim().Property(34, k))[1], vorn::VORN_TYPE_INT) << k;

  vorn::VornCache cache;
  Discover(h, cache);
  EXPECT_TRUE(cache.IsReady());
  int module = -1, prop = -1;
  EXPECT_EQ(cache.GetDigitalInputEnable(&module, &prop), -1);

  h.sim().Advance(3000);
  EXPECT_TRUE(Select(h.Sent(), 1, 34, 1).empty());
  // Digital outputs still work, without a loop-back event.
  h.Receive(Hex(kDigoutOutput1High));
  EXPECT_EQ(h.sim().OutputLevels(), 1);
  const auto sent = h.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(vorn::LoadU16(&sent[0][10]), 53);
}

TEST(SimNoDigin, BrokenEnableChainHidesTheSwitchButEventsFlow) {
  SimOptions o = Parse({"--no-digin", "enable"});
  o.eventRate = 1000;
  Harness h(o);
  vorn::VornCache cache;
  Discover(h, cache);
  EXPECT_TRUE(cache.IsReady());
  int module = -1, prop = -1;
  EXPECT_EQ(cache.GetDigitalInputEnable(&module, &prop), -1);

  h.sim().Advance(60);
  EXPECT_EQ(Select(h.Sent(), 1, 34, 1).size(), 2u);
  h.Receive(Hex(kDigoutOutput1High));
  EXPECT_EQ(Select(h.Sent(), 1, 34, 1).size(), 1u);   // the loop-back event
  // The Bool at 17 still switches the stream.
  h.Receive(SetPacket(34, 17, b::Bool(0)));
  h.Sent();
  h.sim().Advance(120);
  EXPECT_TRUE(Select(h.Sent(), 1, 34, 1).empty());
}

}  // namespace
}  // namespace test
}  // namespace vornsim
