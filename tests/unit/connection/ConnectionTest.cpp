// The connection's start-up discovery and listening thread, run against a
// fake instrument that answers through the fake socket layer.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeInstrument.h"
#include "GoldenBytes.h"
#include "ModuleData.h"
#include "VornCache.h"
#include "VornClient.h"
#include "VornConnection.h"

namespace vorn {
namespace {

using test::FakeInstrument;
using test::Hex;
using test::Ipv4;

// Waits (without sleeping a fixed time) until cond holds; false after 10 s.
template <typename Cond>
bool WaitUntil(Cond cond) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

class ConnectionTest : public ::testing::Test {
 protected:
  void Open(int waitMs = 5000) {
    ConnectionTiming timing;
    timing.moduleWaitMs = waitMs;
    timing.propertyWaitMs = waitMs;
    timing.pause = [this](int ms) { net->NotePause(ms); };
    conn = std::make_unique<VornConnection>(net, timing);
    ::testing::internal::CaptureStderr();
    conn->Open();
    log = ::testing::internal::GetCapturedStderr();
  }
  void TearDown() override {
    if (conn) {
      net->Shutdown();   // ends the blocking receive at once
      conn->Close();
    }
  }
  int Status() {
    std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
    return conn->GetCache()->GetStatus();
  }
  std::vector<std::string> Requests() {
    std::vector<std::string> out;
    for (const std::string& line : net->Log()) {
      if (line.rfind("pause", 0) != 0) out.push_back(line);
    }
    return out;
  }
  // The latest n values of front end 1's "raw" stream, under the mutex.
  std::vector<float> LatestRaw(uint32_t n, uint32_t* firstTime) {
    std::vector<float> values(n);
    const uint32_t got =
        conn->GetCache()->GetContData(firstTime, values.data(), n, 0, 1, 1, 0);
    values.resize(got);
    return values;
  }

  std::shared_ptr<FakeInstrument> net = std::make_shared<FakeInstrument>();
  std::unique_ptr<VornConnection> conn;
  std::string log;
};

TEST_F(ConnectionTest, DiscoverySendsItsRequestsInOrderAndTheCacheBecomesReady) {
  Open();
  ASSERT_EQ(Status(), 0) << log;
  EXPECT_TRUE(conn->GetCache()->IsReady());
  EXPECT_TRUE(conn->IsListening());

  // Every packet of the start-up, byte for byte, broadcast to port 2047.
  std::vector<std::vector<uint8_t>> expected = {
      Hex("03 00 00 00 00 00 00 00 ff 00 00 00"),   // every processor, module 0, property 0
      Hex("03 00 00 00 00 00 00 00 01 00 05 00"),   // the KEL, module 0, property 5
      Hex("03 00 00 00 00 00 00 00 01 ff 00 00"),   // every module descriptor of the KEL
  };
  for (int m = 0; m <= 9; ++m) {   // all properties of each module, ascending
    std::vector<uint8_t> request = Hex("03 00 00 00 00 00 00 00 01 00 ff ff");
    request[9] = static_cast<uint8_t>(m);
    expected.push_back(request);
  }
  expected.push_back(Hex("03 00 00 00 01 00 00 00 81 00 01 00"));   // trial of operator 129
  expected.push_back(Hex("03 00 00 00 01 00 00 00 83 00 01 00"));   // trial of operator 131

  const std::vector<test::SentDatagram> sent = net->Sent();
  ASSERT_EQ(sent.size(), expected.size()) << log;
  for (size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE("packet " + std::to_string(i));
    EXPECT_TRUE(test::BytesEqual(sent[i].bytes, expected[i]));
    EXPECT_EQ(sent[i].addr, Ipv4(192, 168, 42, 255));
    EXPECT_EQ(sent[i].port, 2047);
  }

  EXPECT_NE(log.find("recieved all modules\n"), std::string::npos) << log;
  EXPECT_NE(log.find("requesting properties for modules: 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, \n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("finished in "), std::string::npos) << log;
  EXPECT_EQ(log.find("Retrying"), std::string::npos) << log;
}

TEST_F(ConnectionTest, PropertyRequestsPauseAfterTheFirstAndEveryFourthAfterIt) {
  net = std::make_shared<FakeInstrument>(8);   // nine modules, all incomplete
  Open();
  ASSERT_EQ(Status(), 0) << log;
  const std::vector<std::string> expected = {
      "req 255/0/0", "req 1/0/5",     "req 1/255/0",   "req 1/0/65535", "pause 25",
      "req 1/1/65535", "req 1/2/65535", "req 1/3/65535", "req 1/4/65535", "pause 25",
      "req 1/5/65535", "req 1/6/65535", "req 1/7/65535", "req 1/8/65535", "pause 25",
      "trial 129",   "trial 131"};
  EXPECT_EQ(net->Log(), expected);
}

TEST_F(ConnectionTest, AModuleThatNeverAnswersIsRetriedTwiceThenTheStartUpGoesOn) {
  net->silentModules[3] = -1;
  Open(50);
  EXPECT_EQ(Status(), 3);   // "did not recieve all KEL properties"
  const std::vector<std::string> expected = {
      "req 255/0/0",   "req 1/0/5",     "req 1/255/0",   "req 1/0/65535", "req 1/1/65535",
      "req 1/2/65535", "req 1/3/65535", "req 1/4/65535", "req 1/5/65535", "req 1/6/65535",
      "req 1/7/65535", "req 1/8/65535", "req 1/9/65535",
      "req 1/3/65535",   // attempt 1: only what is still missing
      "req 1/3/65535",   // attempt 2
      "trial 129",     "trial 131"};
  EXPECT_EQ(Requests(), expected);
  const std::string retries =
      "trial 0 failed.  Retrying\n"
      "module:3, missing:1, total:2\n"
      "requesting properties for modules: 3, \n"
      "trial 1 failed.  Retrying\n"
      "module:3, missing:1, total:2\n"
      "requesting properties for modules: 3, \n"
      "failed\n";
  EXPECT_NE(log.find(retries), std::string::npos) << log;
}

TEST_F(ConnectionTest, AModuleThatAnswersTheRetryFinishesTheStartUp) {
  net->silentModules[2] = 1;   // ignores the first request only
  Open(50);
  EXPECT_EQ(Status(), 0) << log;
  EXPECT_NE(log.find("trial 0 failed.  Retrying\nmodule:2, missing:1, total:2\n"
                     "requesting properties for modules: 2, \nfinished in "),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("failed\n", log.find("finished in")), std::string::npos) << log;
}

TEST_F(ConnectionTest, WithoutAKelTheModuleWaitEndsAndNothingMoreIsRequested) {
  net->kelAnswers = false;
  net->operators.clear();
  Open(50);
  EXPECT_EQ(Status(), 1);   // "could not find KEL"
  EXPECT_NE(log.find("did not recieve modules\n"), std::string::npos) << log;
  EXPECT_EQ(Requests(), (std::vector<std::string>{"req 255/0/0", "req 1/0/5", "req 1/255/0"}));
}

TEST_F(ConnectionTest, OnlyTheTenLowestOperatorsAreAskedForTheirTrial) {
  net->operators = {200, 140, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139};
  Open();
  std::vector<std::string> trials;
  for (const std::string& line : net->Log()) {
    if (line.rfind("trial", 0) == 0) trials.push_back(line);
  }
  EXPECT_EQ(trials, (std::vector<std::string>{"trial 130", "trial 131", "trial 132", "trial 133",
                                              "trial 134", "trial 135", "trial 136", "trial 137",
                                              "trial 138", "trial 139"}));
}

TEST_F(ConnectionTest, AHostOffTheInstrumentNetworkStartsNoThreadAndSendsNothing) {
  net->interfaces = {Ipv4(10, 0, 0, 5)};
  Open();
  EXPECT_EQ(conn->GetClient()->GetInitStatus(), 3);
  EXPECT_NE(log.find("Client initialization failed\n"), std::string::npos) << log;
  EXPECT_EQ(net->SentCount(), 0u);
  EXPECT_FALSE(conn->IsListening());
  EXPECT_EQ(conn->GetCacheMutex(), nullptr);
  EXPECT_EQ(conn->GetCache()->GetStatus(), 1);
}

TEST_F(ConnectionTest, StartUpAsksForTheHighestPriority) {
  Open();
  const char* name = GetPriorityName(conn->GetListenThreadId());
  if (log.find("failed to set thread priority.\n") == std::string::npos) {
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "highest");
  } else {
    // Refused (no privilege to raise it): the thread runs on as it was.
    EXPECT_TRUE(conn->IsListening());
  }
}

TEST_F(ConnectionTest, ListeningGoesOnAfterTimeOutsAndEmptyDatagrams) {
  Open();
  ASSERT_EQ(Status(), 0) << log;
  net->PushError();   // a receive time-out
  net->PushError();
  net->Push({});      // an empty datagram from the instrument
  net->Push(FakeInstrument::TimePacket(777777));
  EXPECT_TRUE(WaitUntil([&] { return conn->GetCache()->GetLatestTime() == 777777; }));
  EXPECT_TRUE(conn->IsListening());
  EXPECT_GE(conn->GetCounters().receiveFailures, 2u);
}

TEST_F(ConnectionTest, AFailedSocketEndsTheListeningThread) {
  Open();
  ASSERT_TRUE(conn->IsListening());
  net->Shutdown();   // every receive now fails at once
  EXPECT_TRUE(WaitUntil([&] { return !conn->IsListening(); }));
  EXPECT_EQ(conn->GetListenThreadId(), kNoThread);
  // What the cache held stays readable.
  EXPECT_EQ(Status(), 0);
}

TEST_F(ConnectionTest, DatagramsReceivedWhileTheMutexIsHeldArriveInOrder) {
  Open();
  ASSERT_EQ(Status(), 0) << log;
  constexpr uint32_t kFrames = 300;
  constexpr uint32_t kStart = 100000;
  const ListenCounters start = conn->GetCounters();
  {
    std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
    for (uint32_t i = 0; i < kFrames; ++i) {
      net->Push(FakeInstrument::RawFrame(kStart + i, static_cast<int16_t>(i)));
    }
    // The thread keeps receiving while the mutex is held.
    ASSERT_TRUE(
        WaitUntil([&] { return conn->GetCounters().datagrams == start.datagrams + kFrames; }));
    EXPECT_EQ(conn->GetCounters().backlogged, start.backlogged + kFrames);
    EXPECT_GE(conn->GetCounters().backlogHighWater, kFrames);
  }
  // With the mutex free again, the thread works the backlog off by itself
  // while new datagrams arrive, and files those behind it.
  // Each one queues itself and takes kDrainPerDatagram of the oldest.
  constexpr uint32_t kMore = kFrames / (VornConnection::kDrainPerDatagram - 1) + 1;
  for (uint32_t i = kFrames; i < kFrames + kMore; ++i) {
    net->Push(FakeInstrument::RawFrame(kStart + i, static_cast<int16_t>(i)));
  }
  ASSERT_TRUE(WaitUntil(
      [&] { return conn->GetCounters().datagrams == start.datagrams + kFrames + kMore; }));

  std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
  uint32_t firstTime = 0;
  const std::vector<float> values = LatestRaw(kFrames + kMore, &firstTime);
  ASSERT_EQ(values.size(), kFrames + kMore);
  for (uint32_t i = 0; i < kFrames + kMore; ++i) ASSERT_EQ(values[i], static_cast<float>(i)) << i;
  EXPECT_EQ(conn->GetCounters().backlogDrops, 0u);
  const ContBufferCounters& counters = conn->GetCache()->GetModule(1)->GetContBuffer(1)->GetCounters();
  EXPECT_EQ(counters.lateIgnored, 0u);
  EXPECT_EQ(counters.framesMissed, 0u);
}

TEST_F(ConnectionTest, TheMutexHolderCanDrainTheBacklogBeforeItReads) {
  Open();
  ASSERT_EQ(Status(), 0) << log;
  const uint64_t before = conn->GetCounters().datagrams;
  std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
  for (int16_t i = 0; i < 10; ++i) net->Push(FakeInstrument::RawFrame(200000 + i, i));
  ASSERT_TRUE(WaitUntil([&] { return conn->GetCounters().datagrams == before + 10; }));
  conn->DrainBacklogLocked();
  uint32_t firstTime = 0;
  const std::vector<float> values = LatestRaw(10, &firstTime);
  EXPECT_EQ(values, (std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(ConnectionTest, AFullBacklogDropsTheNewestDatagramsAndCountsThem) {
  Open();
  ASSERT_EQ(Status(), 0) << log;
  constexpr uint32_t kSlots = VornConnection::kBacklogSlots;
  constexpr uint32_t kExtra = 5;
  const uint64_t before = conn->GetCounters().datagrams;
  {
    std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
    for (uint32_t i = 0; i < kSlots + kExtra; ++i) {
      net->Push(FakeInstrument::RawFrame(300000 + i, static_cast<int16_t>(i)));
    }
    ASSERT_TRUE(WaitUntil(
        [&] { return conn->GetCounters().datagrams == before + kSlots + kExtra; }));
    EXPECT_EQ(conn->GetCounters().backlogDrops, kExtra);
    EXPECT_EQ(conn->GetCounters().backlogHighWater, kSlots);
    conn->DrainBacklogLocked();
  }
  // The kept datagrams are the oldest ones, complete and in order.
  std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
  uint32_t firstTime = 0;
  const std::vector<float> values = LatestRaw(kSlots, &firstTime);
  ASSERT_EQ(values.size(), kSlots);
  for (uint32_t i = 0; i < kSlots; ++i) {
    ASSERT_EQ(values[i], static_cast<float>(static_cast<int16_t>(i))) << i;
  }
}

TEST_F(ConnectionTest, CloseStopsTheThreadAndDeletesEverything) {
  Open();
  ASSERT_TRUE(conn->IsListening());
  net->Shutdown();
  conn->Close();
  EXPECT_FALSE(conn->IsListening());
  EXPECT_EQ(conn->GetClient(), nullptr);
  EXPECT_EQ(conn->GetCache(), nullptr);
  EXPECT_EQ(conn->GetCacheMutex(), nullptr);
  EXPECT_EQ(net->OpenSocketCount(), 0);
  conn->Close();   // a second close does nothing
}

}  // namespace
}  // namespace vorn
