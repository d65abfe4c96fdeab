// What the stimulation commands send: stim sequence words; stim, stop and
// sequence packets byte for byte, framed into datagrams to the KEL; the
// requests that send nothing at all; and the delayed switch-off of
// stimulation (its thread, cancelling and replacing it, firing it at once
// when the connection ends, its delays). No test sleeps for a fixed time:
// each waits for what it expects to see.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "FakeNetPlatform.h"
#include "GoldenBytes.h"
#include "StimEnableEvent.h"
#include "StimSeq.h"
#include "VornClient.h"
#include "VornProtocol.h"

namespace vorn {
namespace {

using test::BytesEqual;
using test::Hex;
using Bytes = std::vector<uint8_t>;
using Words = std::vector<uint32_t>;

// Long enough never to end during a test: only cancelling or firing ends it.
constexpr uint32_t kForever = 24u * 3600u * 1000u;
constexpr uint16_t kEnableIndex = 0x1234;

// Polls a condition that another thread makes true; gives up after 10 s.
template <typename Pred>
bool Eventually(Pred pred) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!pred() && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
  return pred();
}

TEST(StimSeqWords, HeaderCarriesActionPeriodAndRepeats) {
  StimSeqMap map;
  map.AddSegment(2, 6, 10, false, true, true, 0, false);   // no sequence yet: dropped
  EXPECT_TRUE(map.Empty());
  map.SetSequence(2, 300, 10, STIM_ACTION_IMMED);
  map.AddSegment(2, 6, 10, false, true, true, 0, false);
  EXPECT_EQ(map.GetWords(2), (Words{0x0012C00A, 0x0006A00A}));
  map.SetSequence(2, 300, 10, STIM_ACTION_TRIGGER);
  EXPECT_EQ(map.GetWords(2), (Words{0x3012C00A}));   // segments were dropped
  // Period and repeats carried modulo 65536 and 4096.
  map.SetSequence(2, 70000, 4097, STIM_ACTION_AT_TIME);
  EXPECT_EQ(map.GetWords(2), (Words{0x40000000u + (4464u << 12) + 1u}));

  EXPECT_EQ(StimActionIndex("at-time"), 4);
  EXPECT_EQ(StimActionIndex("Immed"), -1);
  EXPECT_TRUE(StimSeq(300, 1, 7).GetWords().empty());   // invalid action: nothing to send
}

TEST(StimSeqWords, MaxDurationIsTheLongestPeriodTimesRepeatsWithoutOverflow) {
  StimSeqMap map;
  EXPECT_EQ(map.GetMaxDuration(), 0);
  map.SetSequence(0, 300, 10, 0);
  map.SetSequence(1, 6000, 10, 0);
  EXPECT_EQ(map.GetMaxDuration(), 60000);
  map.SetSequence(2, 70000, 2, 0);   // the whole period, not what the header carries
  EXPECT_EQ(map.GetMaxDuration(), 140000);
  map.SetSequence(3, 0xFFFFFFFFu, 0xFFFFFFFFu, 0);
  EXPECT_EQ(map.GetMaxDuration(), 2147483647);
}

class StimSending : public ::testing::Test {
 protected:
  void SetUp() override {
    // Electrode e stimulates through property 200 + e of module 1 (e < 32) or 3.
    std::map<int, std::pair<int, int>> electrodes;
    for (int e = 0; e < 64; ++e) electrodes[e] = {e < 32 ? 1 : 3, 200 + e};
    client->SetStimElectrodes(electrodes);
  }
  void TearDown() override {
    if (slot != nullptr) slot->Terminate();   // the destructor would wait out the delay
    delete slot;
  }

  // A new event in slot, replacing one that acted; the record of sends starts anew.
  void NewEvent(uint32_t delayMs, std::vector<uint32_t> electrodes) {
    delete slot;
    net->ClearSent();
    slot = new StimEnableEvent(delayMs, client.get(), 0, kEnableIndex, false);
    slot->SetElectrodes(std::move(electrodes));
  }

  // Waits until the event in slot has acted and its thread has ended.
  bool SlotActed(size_t datagrams) {
    return net->WaitForSent(datagrams) && Eventually([&] { return !slot->IsRunning(); });
  }

  // Exactly the switch-off of these electrodes was sent: one "curcyc" stop
  // packet each to the KEL (if any), then "Stim Enable" (0x1234 of module 0)
  // set false by broadcast.
  void ExpectSwitchOff(const Bytes& propertyLowBytes) {
    Bytes stops;
    for (uint8_t low : propertyLowBytes) {
      Bytes p = Hex("08000000 00000000 01010000 00000000 02000200 00000000 00000000 00000010");
      p[10] = low;
      stops.insert(stops.end(), p.begin(), p.end());
    }
    std::vector<std::pair<uint32_t, Bytes>> expected, sent;
    if (!stops.empty()) expected.emplace_back(kKelAddress, stops);
    expected.emplace_back(kBroadcastAddress, Hex("05000000 01000000 01003412 01030000 00000000"));
    for (const auto& d : net->Sent()) sent.emplace_back(d.addr, d.bytes);
    EXPECT_EQ(sent, expected);
  }

  // The datagrams sent since the last call, all to the KEL itself.
  std::vector<Bytes> Datagrams() {
    std::vector<Bytes> out;
    for (const test::SentDatagram& d : net->Sent()) {
      EXPECT_EQ(d.addr, kKelAddress);
      EXPECT_EQ(d.port, kInstrumentPort);
      out.push_back(d.bytes);
    }
    net->ClearSent();
    return out;
  }

  // Sequences with wordCounts[e] words (header included) for electrode e.
  static StimSeqMap SequencesOfWords(const std::vector<size_t>& wordCounts) {
    StimSeqMap map;
    for (uint32_t e = 0; e < wordCounts.size(); ++e) {
      map.SetSequence(e, 300, 1, 0);
      for (size_t s = 1; s < wordCounts[e]; ++s) map.AddSegment(e, 1, 1, false, true, true, 0, false);
    }
    return map;
  }

  std::shared_ptr<test::FakeNetPlatform> net = std::make_shared<test::FakeNetPlatform>();
  std::unique_ptr<VornClient> client = std::make_unique<VornClient>(kRecvBufferSize, kSendBufferSize, net);
  StimEnableEvent* slot = nullptr;
};

const char* const kTwoElectrodes =
    "Elect=1,2;Freq=100,100;TL=1000,1000;CathDur=0.2,0.2;AnodDur=0.2,0.2;"
    "CathAmp=10,10;AnodAmp=10,10";

TEST_F(StimSending, StimStringSendsOnePacketPerElectrodeInOneDatagram) {
  ASSERT_EQ(client->SendStimString(kTwoElectrodes), 0);
  const auto datagrams = Datagrams();
  ASSERT_EQ(datagrams.size(), 1u);
  EXPECT_TRUE(BytesEqual(datagrams[0], Hex("0B 00 00 00  00 00 00 00  01 01 C8 00  00 00 00 00"
                                           "08 00 08 00  00 00 00 00  00 00 00 00"
                                           "64 C0 12 00  0A A0 06 00  00 A0 02 00  8A A0 06 00"
                                           "0B 00 00 00  00 00 00 00  01 01 C9 00  00 00 00 00"
                                           "08 00 08 00  00 00 00 00  00 00 00 00"
                                           "64 C0 12 00  0A A0 06 00  00 A0 02 00  8A A0 06 00")));
  net->sendResult = 0;
  EXPECT_EQ(client->SendStimString(kTwoElectrodes), 3);   // a failed send is reported
}

TEST_F(StimSending, StopPacketIsAnEmptySequenceWithTheStopAction) {
  ASSERT_EQ(client->SendStimStop({0, 33}, 1), 0);
  EXPECT_EQ(Datagrams(), (std::vector<Bytes>{
                             Hex("08 00 00 00  00 00 00 00  01 01 C8 00  00 00 00 00"
                                 "02 00 02 00  00 00 00 00  00 00 00 00  00 00 00 10"
                                 "08 00 00 00  00 00 00 00  01 03 E9 00  00 00 00 00"
                                 "02 00 02 00  00 00 00 00  00 00 00 00  00 00 00 10")}));
  for (auto [code, word] : {std::pair<int, const char*>{0, "00 00 00 00"}, {2, "00 00 00 20"}}) {
    ASSERT_EQ(client->SendStimStop({5}, code), 0);
    const auto d = Datagrams().at(0);
    EXPECT_TRUE(BytesEqual({d.begin() + 28, d.end()}, Hex(word))) << code;
  }
}

TEST_F(StimSending, SequencePacketsInAscendingElectrodeOrder) {
  StimSeqMap map;
  map.SetSequence(9, 1, 1, 0);
  map.SetSequence(2, 300, 10, 0);
  map.AddSegment(2, 6, 10, false, true, true, 0, false);
  map.SetSequence(6, 1, 1, 0);
  ASSERT_EQ(client->SendStimSequences(map), 0);
  const auto datagrams = Datagrams();
  ASSERT_EQ(datagrams.size(), 1u);
  const Bytes& d = datagrams[0];
  ASSERT_EQ(d.size(), 36u + 32u + 32u);
  EXPECT_TRUE(BytesEqual({d.begin(), d.begin() + 36},
                         Hex("09 00 00 00  00 00 00 00  01 01 CA 00  00 00 00 00"
                             "04 00 04 00  00 00 00 00  00 00 00 00  0A C0 12 00  0A A0 06 00")));
  EXPECT_EQ(d[36 + 10], 200 + 6);
  EXPECT_EQ(d[68 + 10], 200 + 9);
}

TEST_F(StimSending, APacketThatWouldMakeExactly1500BytesGoesToTheNextDatagram) {
  auto sizes = [&](const StimSeqMap& map) {
    EXPECT_EQ(client->SendStimSequences(map), 0);
    std::vector<size_t> out;
    for (const auto& d : Datagrams()) out.push_back(d.size());
    return out;
  };
  // Packets of 125 words (500 bytes): 1500 bytes is one too many.
  EXPECT_EQ(sizes(SequencesOfWords({118, 118, 118})), (std::vector<size_t>{1000, 500}));
  EXPECT_EQ(sizes(SequencesOfWords({118, 118, 117})), (std::vector<size_t>{1496}));
}

TEST_F(StimSending, RefusedRequestsSendNothingAtAll) {
  EXPECT_EQ(client->SendStimString("Elect=1,2;Freq=100"), 2);   // invalid records
  EXPECT_EQ(client->SendStimString(""), 2);
  EXPECT_EQ(client->SendStimString("enabled"), 2);
  EXPECT_EQ(client->SendStimString("Elect=1,65;Freq=100,100;TL=1000,1000;Dur=0.2,0.2;Amp=1,1"), 1);
  EXPECT_EQ(client->SendStimStop({0}, 3), 2);
  EXPECT_EQ(client->SendStimStop({0}, -1), 2);
  EXPECT_EQ(client->SendStimStop({0, 99}, 1), 1);
  // A size byte would wrap: none of the sequences goes out.
  EXPECT_EQ(client->SendStimSequences(SequencesOfWords({2, 249})), 3);
  EXPECT_EQ(client->SendStimSequences(SequencesOfWords({2, 400})), 3);
  StimSeqMap invalidAction;
  invalidAction.SetSequence(0, 300, 1, 0);
  invalidAction.SetSequence(1, 300, 1, 9);
  EXPECT_NE(client->SendStimSequences(invalidAction), 0);
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(StimSending, AfterItsDelayStopsTheElectrodesThenSwitchesOff) {
  NewEvent(1, {0, 3});
  ASSERT_TRUE(slot->Start());
  EXPECT_FALSE(slot->Start());   // one thread per event
  ASSERT_TRUE(SlotActed(2));
  ExpectSwitchOff({200, 203});

  NewEvent(0, {});
  ASSERT_TRUE(slot->Start());
  ASSERT_TRUE(SlotActed(1));
  ExpectSwitchOff({});
}

TEST_F(StimSending, FireNowSwitchesOffExactlyOnce) {
  NewEvent(kForever, {5});   // without a thread
  slot->FireNow();
  ExpectSwitchOff({205});

  NewEvent(kForever, {1});   // its thread waiting: ended when FireNow returns
  ASSERT_TRUE(slot->Start());
  slot->FireNow();
  EXPECT_FALSE(slot->IsRunning());
  slot->FireNow();
  ExpectSwitchOff({201});

  NewEvent(0, {2});   // after its thread acted
  ASSERT_TRUE(slot->Start());
  ASSERT_TRUE(SlotActed(2));
  slot->FireNow();
  ExpectSwitchOff({202});
}

TEST_F(StimSending, ALostStimEnableSetIsSentOnceMore) {
  NewEvent(kForever, {});
  net->failSendCalls = {0};   // the platform refuses the first switch-off
  slot->FireNow();
  const Bytes off = Hex("05000000 01000000 01003412 01030000 00000000");
  std::vector<Bytes> sent;
  for (const auto& d : net->Sent()) sent.push_back(d.bytes);
  EXPECT_EQ(sent, (std::vector<Bytes>{off, off}));
}

TEST_F(StimSending, FireNowRacingTheWakingEventSwitchesOffExactlyOnce) {
  // With a delay of 0 or 1 ms the event's thread wakes at about the moment
  // FireNow runs; whoever wins, the switch-off goes out once.
  for (int round = 0; round < 200; ++round) {
    net->ClearSent();
    StimEnableEvent event(static_cast<uint32_t>(round % 2), client.get(), 0, kEnableIndex, false);
    event.SetElectrodes({4});
    ASSERT_TRUE(event.Start());
    if (round % 3 == 0) std::this_thread::yield();
    event.FireNow();
    ASSERT_EQ(net->SentCount(), 2u) << "round " << round;
  }
}

TEST_F(StimSending, ScheduledOnlyAfterASwitchOnOrWhileOneIsPendingAndWithAnAddress) {
  auto schedule = [&](bool switchedOn, bool found, uint32_t delay, std::vector<uint32_t> electrodes) {
    return ScheduleStimSwitchOff(slot, client.get(), switchedOn, found, found ? kEnableIndex : 0, delay,
                                 std::move(electrodes));
  };
  // Stimulation was on already and nothing pends; or "Stim Enable" is unknown.
  EXPECT_EQ(schedule(false, true, 0, {0}), SwitchOffPlan::kNotNeeded);
  EXPECT_EQ(schedule(true, false, 0, {0}), SwitchOffPlan::kNotNeeded);
  EXPECT_EQ(slot, nullptr);

  ASSERT_EQ(schedule(true, true, kForever, {0, 1}), SwitchOffPlan::kScheduled);
  ASSERT_NE(slot, nullptr);
  EXPECT_TRUE(slot->IsRunning());
  EXPECT_EQ(slot->GetElectrodes(), (std::vector<uint32_t>{0, 1}));
  // The pending event makes the next command replace it, keeping its address
  // when the cache does not know "Stim Enable"; the replaced one is cancelled
  // (its wait cut short, or deleting it would hang) and never acts.
  ASSERT_EQ(schedule(false, false, 1, {6, 7}), SwitchOffPlan::kScheduled);
  ASSERT_TRUE(SlotActed(2));
  ExpectSwitchOff({206, 207});
  // An event that already acted is not pending and gives no address.
  StimEnableEvent* acted = slot;
  EXPECT_EQ(schedule(false, false, 0, {1}), SwitchOffPlan::kNotNeeded);
  EXPECT_EQ(slot, acted);
  EXPECT_EQ(net->SentCount(), 2u);
}

TEST_F(StimSending, EndingTheConnectionSwitchesOffAtOnce) {
  ASSERT_EQ(ScheduleStimSwitchOff(slot, client.get(), true, true, kEnableIndex, kForever, {3}),
            SwitchOffPlan::kScheduled);
  StopStimSwitchOff(slot);
  EXPECT_EQ(slot, nullptr);
  ExpectSwitchOff({203});
  client.reset();   // no thread is left that could use it
  StopStimSwitchOff(slot);
}

TEST(StimSwitchOffDelay, TrainOrSequencePlus100MsWithoutOverflow) {
  EXPECT_EQ(StimStringSwitchOffDelayMs(1000000), 1100u);   // TL=1000
  EXPECT_EQ(StimStringSwitchOffDelayMs(1500), 101u);
  EXPECT_EQ(StimStringSwitchOffDelayMs(0), 100u);
  EXPECT_EQ(StimStringSwitchOffDelayMs(2147483647), 2147583u);
  EXPECT_EQ(StimSeqSwitchOffDelayMs(60000), 2100u);
  EXPECT_EQ(StimSeqSwitchOffDelayMs(70000 * 3), 7100u);
  EXPECT_EQ(StimSeqSwitchOffDelayMs(2147483647), 71582888u);
}

}  // namespace
}  // namespace vorn
