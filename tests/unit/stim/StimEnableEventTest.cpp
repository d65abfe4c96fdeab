// The delayed switch-off of stimulation: the event's thread, cancelling and
// replacing it, firing it at once when the connection ends, and the delays.
// No test sleeps for a fixed time: each waits for what it expects to see.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "FakeNetPlatform.h"
#include "GoldenBytes.h"
#include "StimEnableEvent.h"
#include "VornClient.h"
#include "VornEvent.h"
#include "VornProtocol.h"

namespace vorn {
namespace {

using test::BytesEqual;
using test::Hex;

// Long enough never to end during a test: only cancelling or firing ends it.
constexpr uint32_t kForever = 24u * 3600u * 1000u;
constexpr uint16_t kEnableIndex = 0x1234;

// The set of "Stim Enable" (property 0x1234 of module 0) to false.
const std::vector<uint8_t> kEnableOff =
    Hex("05 00 00 00  01 00 00 00  01 00 34 12  01 03 00 00  00 00 00 00");

// Polls a condition that another thread makes true; gives up after 10 s.
template <typename Pred>
bool Eventually(Pred pred) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::yield();
  }
  return true;
}

class StimEnableEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    client = std::make_unique<VornClient>(kRecvBufferSize, kSendBufferSize, net);
    std::map<int, std::pair<int, int>> electrodes;
    for (int e = 0; e < 8; ++e) electrodes[e] = {1, 200 + e};
    client->SetStimElectrodes(electrodes);
  }
  void TearDown() override {
    if (slot != nullptr) slot->Terminate();   // the destructor would wait out the delay
    delete slot;
    slot = nullptr;
  }

  StimEnableEvent* NewEvent(uint32_t delayMs, std::vector<uint32_t> electrodes) {
    auto* event = new StimEnableEvent(delayMs, client.get(), 0, kEnableIndex, false);
    event->SetElectrodes(std::move(electrodes));
    return event;
  }

  // The stop datagram for these electrodes: one 32-byte "curcyc" packet each.
  static std::vector<uint8_t> StopDatagram(const std::vector<uint8_t>& propertyLowBytes) {
    std::vector<uint8_t> out;
    for (uint8_t low : propertyLowBytes) {
      std::vector<uint8_t> p = Hex("08 00 00 00  00 00 00 00  01 01 00 00  00 00 00 00"
                                   "02 00 02 00  00 00 00 00  00 00 00 00  00 00 00 10");
      p[10] = low;
      out.insert(out.end(), p.begin(), p.end());
    }
    return out;
  }

  // Checks that exactly the switch-off of these electrodes was sent: their
  // stop packets to the KEL, then "Stim Enable" false as a broadcast.
  void ExpectSwitchOff(const std::vector<uint8_t>& propertyLowBytes) {
    const auto sent = net->Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].addr, kKelAddress);
    EXPECT_TRUE(BytesEqual(sent[0].bytes, StopDatagram(propertyLowBytes)));
    EXPECT_EQ(sent[1].addr, kBroadcastAddress);
    EXPECT_TRUE(BytesEqual(sent[1].bytes, kEnableOff));
  }

  std::shared_ptr<test::FakeNetPlatform> net = std::make_shared<test::FakeNetPlatform>();
  std::unique_ptr<VornClient> client;
  StimEnableEvent* slot = nullptr;
};

// A VornEvent whose work blocks until the test lets it go.
class GatedEvent : public VornEvent {
 public:
  GatedEvent() : VornEvent(nullptr) {}
  ~GatedEvent() override {
    Open();
    Join();
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mMutex);
    mOpen = true;
    mGate.notify_all();
  }
  bool entered() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mEntered;
  }

 protected:
  void Run() override {
    std::unique_lock<std::mutex> lock(mMutex);
    mEntered = true;
    mGate.wait(lock, [this] { return mOpen; });
  }

 private:
  std::mutex mMutex;
  std::condition_variable mGate;
  bool mOpen = false;
  bool mEntered = false;
};

TEST(VornEventThread, RunningFromStartUntilRunReturns) {
  GatedEvent event;
  EXPECT_FALSE(event.IsRunning());
  ASSERT_TRUE(event.Start());
  EXPECT_FALSE(event.Start());   // one thread per event
  ASSERT_TRUE(Eventually([&] { return event.entered(); }));
  EXPECT_TRUE(event.IsRunning());
  event.Open();
  EXPECT_TRUE(Eventually([&] { return !event.IsRunning(); }));
}

TEST_F(StimEnableEvents, AfterItsDelayStopsTheElectrodesThenSwitchesOff) {
  slot = NewEvent(1, {0, 3});
  ASSERT_TRUE(slot->Start());
  ASSERT_TRUE(net->WaitForSent(2));
  EXPECT_TRUE(Eventually([&] { return !slot->IsRunning(); }));
  ExpectSwitchOff({200, 203});
}

TEST_F(StimEnableEvents, WithoutElectrodesOnlySwitchesOff) {
  slot = NewEvent(0, {});
  ASSERT_TRUE(slot->Start());
  ASSERT_TRUE(net->WaitForSent(1));
  delete slot;   // joins the thread: nothing more can be sent afterwards
  slot = nullptr;
  const auto sent = net->Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(BytesEqual(sent[0].bytes, kEnableOff));
}

TEST_F(StimEnableEvents, TerminatedWhileWaitingSendsNothing) {
  slot = NewEvent(kForever, {0});
  ASSERT_TRUE(slot->Start());
  EXPECT_TRUE(slot->IsRunning());
  slot->Terminate();
  delete slot;   // returns only because the wait was cut short
  slot = nullptr;
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(StimEnableEvents, FireNowActsAtOnceAndOnlyOnce) {
  slot = NewEvent(kForever, {1});
  ASSERT_TRUE(slot->Start());
  slot->FireNow();
  EXPECT_FALSE(slot->IsRunning());
  ExpectSwitchOff({201});
  slot->FireNow();
  delete slot;
  slot = nullptr;
  EXPECT_EQ(net->SentCount(), 2u);
}

TEST_F(StimEnableEvents, FireNowAfterTheEventActedSendsNothingMore) {
  slot = NewEvent(0, {2});
  ASSERT_TRUE(slot->Start());
  ASSERT_TRUE(net->WaitForSent(2));
  slot->FireNow();
  ExpectSwitchOff({202});
}

TEST_F(StimEnableEvents, FireNowRacingTheWakingEventSwitchesOffExactlyOnce) {
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

TEST_F(StimEnableEvents, FireNowWithoutAThreadStillSwitchesOff) {
  slot = NewEvent(kForever, {5});
  slot->FireNow();
  ExpectSwitchOff({205});
}

// ---- Scheduling by the stimulation commands ----

TEST_F(StimEnableEvents, NoEventWhenStimulationWasAlreadyOnAndNothingPends) {
  EXPECT_EQ(ScheduleStimSwitchOff(slot, client.get(), false, true, kEnableIndex, 0, {0}),
            SwitchOffPlan::kNotNeeded);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(StimEnableEvents, ACommandThatSwitchedOnLeavesAnEvent) {
  ASSERT_EQ(ScheduleStimSwitchOff(slot, client.get(), true, true, kEnableIndex, kForever, {0, 1}),
            SwitchOffPlan::kScheduled);
  ASSERT_NE(slot, nullptr);
  EXPECT_TRUE(slot->IsRunning());
  EXPECT_EQ(slot->GetDelayMs(), kForever);
  EXPECT_EQ(slot->GetModule(), 0u);
  EXPECT_EQ(slot->GetPropertyIndex(), kEnableIndex);
  EXPECT_EQ(slot->GetElectrodes(), (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(StimEnableEvents, ANewCommandReplacesThePendingEvent) {
  ASSERT_EQ(ScheduleStimSwitchOff(slot, client.get(), true, true, kEnableIndex, kForever, {0}),
            SwitchOffPlan::kScheduled);
  // Stimulation is on now, so the second command switched nothing on, but
  // the pending event makes it schedule its own.
  ASSERT_EQ(ScheduleStimSwitchOff(slot, client.get(), false, true, kEnableIndex, 1, {6, 7}),
            SwitchOffPlan::kScheduled);
  ASSERT_TRUE(net->WaitForSent(2));
  EXPECT_TRUE(Eventually([&] { return !slot->IsRunning(); }));
  // Only the second event acted, on the second command's electrodes.
  ExpectSwitchOff({206, 207});
}

TEST_F(StimEnableEvents, WithoutStimEnableTheNewEventKeepsThePendingAddress) {
  ASSERT_EQ(ScheduleStimSwitchOff(slot, client.get(), true, true, kEnableIndex, kForever, {0}),
            SwitchOffPlan::kScheduled);
  ASSERT_EQ(ScheduleStimSwitchOff(slot, client.get(), false, false, 0, kForever, {1}),
            SwitchOffPlan::kScheduled);
  EXPECT_EQ(slot->GetModule(), 0u);
  EXPECT_EQ(slot->GetPropertyIndex(), kEnableIndex);
  StopStimSwitchOff(slot);
  ExpectSwitchOff({201});
}

TEST_F(StimEnableEvents, WithoutAnyAddressNoEventIsMade) {
  // Not found and nothing pending: nothing is ever sent to property 0.
  EXPECT_EQ(ScheduleStimSwitchOff(slot, client.get(), false, false, 0, 0, {0}),
            SwitchOffPlan::kNotNeeded);
  // An event that already acted gives no address either.
  slot = NewEvent(0, {0});
  ASSERT_TRUE(slot->Start());
  ASSERT_TRUE(net->WaitForSent(2));
  ASSERT_TRUE(Eventually([&] { return !slot->IsRunning(); }));
  StimEnableEvent* acted = slot;
  EXPECT_EQ(ScheduleStimSwitchOff(slot, client.get(), false, false, 0, 0, {1}),
            SwitchOffPlan::kNotNeeded);
  EXPECT_EQ(slot, acted);
  EXPECT_EQ(net->SentCount(), 2u);
}

TEST_F(StimEnableEvents, EndingTheConnectionSwitchesOffAtOnce) {
  ASSERT_EQ(ScheduleStimSwitchOff(slot, client.get(), true, true, kEnableIndex, kForever, {3}),
            SwitchOffPlan::kScheduled);
  StopStimSwitchOff(slot);
  EXPECT_EQ(slot, nullptr);
  ExpectSwitchOff({203});
  // The client may go now: no thread is left that could use it.
  client.reset();
  StopStimSwitchOff(slot);   // nothing pending: nothing happens
}

TEST(StimSwitchOffDelay, TrainOrSequencePlus100Ms) {
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
