// The connection's start-up discovery and listening thread, run against a fake instrument
// that answers through the fake socket layer.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ByteOrder.h"
#include "FakeNetPlatform.h"
#include "GoldenBytes.h"
#include "RecordBuilder.h"
#include "VornCache.h"
#include "VornClient.h"
#include "VornConnection.h"

namespace vorn {
namespace {

using test::Hex;
using test::Ipv4;
using Lines = std::vector<std::string>;

// The KEL and its operator workstations as far as the start-up needs them: module 0 (processor,
// 6 properties, its descriptor at property 5), module 1 a front end with one continuous stream
// "raw" (period 1, scale 1), and filler modules 2 to 9 (a descriptor and one Int each). It
// answers requests through the fake socket layer and logs them in order, "req p/m/n" for a
// property request and "trial p" for a trial request.
class FakeInstrument : public test::FakeNetPlatform {
 public:
  FakeInstrument() {
    blockingReceive = true;
    modules[0] = {build::ModuleDesc(VORN_FE_PROCESSOR, 1, 6, "KEL"), build::Int(1), build::Int(2),
                  build::Int(3), build::Int(4), build::ProcessorDesc(9)};
    modules[1] = {
        build::ModuleDesc(VORN_FE_MICRO_ELECTRODES, 2, 4, "front end 1"),
        build::PropertyBlockDesc(VORN_TYPE_OUTPUT_STREAM_DESC, 1, 3, "Output Stream Block"),
        build::Int(0),
        build::OutputStream(0, VORN_STREAM_TYPE_CONTINUOUS, 1, 0, 1, 1.0f, "raw", "raw")};
    for (int id = 2; id <= 9; ++id) {
      modules[id] = {build::ModuleDesc(VORN_FE_UNDEFINED, 1, 2, "filler " + std::to_string(id)),
                     build::Int(static_cast<uint32_t>(id))};
    }
  }

  // Behaviour switches, set before the connection opens.
  std::map<int, std::vector<build::Bytes>> modules;   // [m][n]: property n; [m][0] the descriptor
  std::vector<int> operators{129, 131};
  bool kelAnswers = true;
  // Modules that answer a request for all their properties with their descriptor only, for
  // the first `count` such requests (-1: always).
  std::map<int, int> silentModules;

  // Touched only on the thread that runs the start-up.
  Lines events;
  std::vector<std::pair<size_t, int>> pauses;   // datagrams sent before each, milliseconds

  int SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t addr,
             uint16_t port) override {
    const int result = FakeNetPlatform::SendTo(s, data, length, addr, port);
    if (length == static_cast<int>(hdr::kConfigHeaderBytes)) {
      const int p = data[hdr::kTargetProcessor], m = data[hdr::kTargetModule];
      const int n = LoadU16(data + hdr::kPropertyIndex);
      if (LoadU32(data + hdr::kTime) == 1) {
        events.push_back("trial " + std::to_string(p));
      } else {
        events.push_back("req " + std::to_string(p) + "/" + std::to_string(m) + "/" +
                         std::to_string(n));
        Answer(p, m, n);
      }
    }
    return result;
  }

 private:
  void Answer(int p, int m, int n) {
    std::vector<build::Bytes> packets;
    if (p == ALL_PROCESSORS) {
      if (kelAnswers) packets.push_back(Reply(0, 0));
      for (int op : operators) {
        const auto id = static_cast<uint8_t>(op);
        packets.push_back(build::ConfigPacket(id, 0, 0, id, 0, 0, build::Int(0)));
      }
    } else if (kelAnswers && m == ALL_MODULES) {
      for (const auto& entry : modules) packets.push_back(Reply(entry.first, 0));
      packets.push_back(Reply(0, 5));
    } else if (kelAnswers && n == ALL_PROPERTIES) {
      int& silent = silentModules[m];   // 0: answers in full
      const size_t count = silent != 0 ? 1 : modules.at(m).size();
      if (silent > 0) --silent;
      for (size_t i = 0; i < count; ++i) packets.push_back(Reply(m, static_cast<int>(i)));
    } else if (kelAnswers) {
      packets.push_back(Reply(m, n));
    }
    // Packed as the instrument packs them: many packets to a datagram.
    build::Bytes datagram;
    for (const build::Bytes& packet : packets) {
      if (datagram.size() + packet.size() > 1499) {
        Push(datagram);
        datagram.clear();
      }
      build::Append(datagram, packet);
    }
    if (!datagram.empty()) Push(datagram);
  }

  build::Bytes Reply(int m, int n) {
    const auto module = static_cast<uint8_t>(m);
    return build::ConfigPacket(KEL_PROCESSOR, module, 5000, KEL_PROCESSOR, module,
                               static_cast<uint16_t>(n), modules.at(m).at(static_cast<size_t>(n)));
  }
};

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
    timing.moduleWaitMs = timing.propertyWaitMs = waitMs;
    timing.pause = [this](int ms) { net->pauses.emplace_back(net->SentCount(), ms); };
    conn = std::make_unique<VornConnection>(net, timing);
    ::testing::internal::CaptureStderr();
    conn->Open();
    log = ::testing::internal::GetCapturedStderr();
  }
  void Close() {
    if (conn) {
      net->Shutdown();   // ends the blocking receive at once
      conn->Close();
    }
    conn.reset();
    net = std::make_shared<FakeInstrument>();
  }
  void TearDown() override { Close(); }
  int Status() {
    std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
    return conn->GetCache()->GetStatus();
  }
  // Pushes frames first .. end-1 of front end 1's "raw" (value i at time base + i) and waits
  // until the listening thread has taken them all off the socket.
  void PushFrames(uint32_t first, uint32_t end, uint32_t base) {
    const uint64_t before = conn->GetCounters().datagrams;
    for (uint32_t i = first; i < end; ++i) {
      net->Push(build::ContPacket(1, 1, base + i, {static_cast<int16_t>(i)}));
    }
    ASSERT_TRUE(WaitUntil([&] { return conn->GetCounters().datagrams == before + end - first; }));
  }
  // Mutex held: the latest n values of "raw", each checked to be value i.
  void ExpectLatestRawInOrder(uint32_t n) {
    std::vector<float> values(n);
    uint32_t firstTime = 0;
    ASSERT_EQ(conn->GetCache()->GetContData(&firstTime, values.data(), n, 0, 1, 1, 0), n);
    for (uint32_t i = 0; i < n; ++i) {
      ASSERT_EQ(values[i], static_cast<float>(static_cast<int16_t>(i))) << i;
    }
  }

  std::shared_ptr<FakeInstrument> net = std::make_shared<FakeInstrument>();
  std::unique_ptr<VornConnection> conn;
  std::string log;
};

TEST_F(ConnectionTest, DiscoveryRequestsInOrderByteForByteWithTheirPauses) {
  Open();
  ASSERT_EQ(Status(), 0) << log;
  EXPECT_TRUE(conn->GetCache()->IsReady());
  EXPECT_NE(log.find("recieved all modules\nrequesting properties for modules: 0, 1, 2, 3, 4, "
                     "5, 6, 7, 8, 9, \nfinished in "), std::string::npos) << log;
  std::vector<std::vector<uint8_t>> expected = {
      Hex("03 00 00 00 00 00 00 00 ff 00 00 00"),   // every processor, module 0, property 0
      Hex("03 00 00 00 00 00 00 00 01 00 05 00"),   // the KEL, module 0, property 5
      Hex("03 00 00 00 00 00 00 00 01 ff 00 00"),   // every module descriptor of the KEL
  };
  for (uint8_t m = 0; m <= 9; ++m) {   // all properties of each module, ascending
    expected.push_back(Hex("03 00 00 00 00 00 00 00 01 00 ff ff"));
    expected.back()[9] = m;
  }
  expected.push_back(Hex("03 00 00 00 01 00 00 00 81 00 01 00"));   // trial of operator 129
  expected.push_back(Hex("03 00 00 00 01 00 00 00 83 00 01 00"));   // trial of operator 131
  const auto sent = net->Sent();
  ASSERT_EQ(sent.size(), expected.size()) << log;
  for (size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE("packet " + std::to_string(i));
    EXPECT_TRUE(test::BytesEqual(sent[i].bytes, expected[i]));
  }
  // A 25 ms pause after the first property request and after every fourth one after it.
  EXPECT_EQ(net->pauses, (decltype(net->pauses){{4, 25}, {8, 25}, {12, 25}}));
}

TEST_F(ConnectionTest, StartUpOutcomesRetriesAndOperatorTrials) {
  auto requests = [](Lines retries, Lines trials) {
    Lines out = {"req 255/0/0", "req 1/0/5", "req 1/255/0"};
    for (int m = 0; m <= 9; ++m) out.push_back("req 1/" + std::to_string(m) + "/65535");
    out.insert(out.end(), retries.begin(), retries.end());
    out.insert(out.end(), trials.begin(), trials.end());
    return out;
  };
  const std::string retry3 =
      "module:3, missing:1, total:2\nrequesting properties for modules: 3, \n";
  struct Case {
    const char* name;
    std::function<void(FakeInstrument&)> setup;
    int waitMs, status;   // 0 ready, 1 "could not find KEL", 3 "did not recieve all KEL properties"
    Lines requests;
    std::string logged;
  };
  const Case cases[] = {
      {"a module that never answers: two retries of what is missing",
       [](FakeInstrument& i) { i.silentModules[3] = -1; }, 50, 3,
       requests({"req 1/3/65535", "req 1/3/65535"}, {"trial 129", "trial 131"}),
       "trial 0 failed.  Retrying\n" + retry3 + "trial 1 failed.  Retrying\n" + retry3 +
           "failed\n"},
      {"a module that answers the retry", [](FakeInstrument& i) { i.silentModules[2] = 1; }, 50, 0,
       requests({"req 1/2/65535"}, {"trial 129", "trial 131"}),
       "trial 0 failed.  Retrying\nmodule:2, missing:1, total:2\n"
       "requesting properties for modules: 2, \nfinished in "},
      {"no KEL: nothing more is requested",
       [](FakeInstrument& i) { i.kelAnswers = false; i.operators.clear(); }, 50, 1,
       {"req 255/0/0", "req 1/0/5", "req 1/255/0"}, "did not recieve modules\n"},
      {"only the ten lowest operators are asked for their trial",
       [](FakeInstrument& i) {
         i.operators = {200, 140, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139};
       }, 5000, 0,
       requests({}, {"trial 130", "trial 131", "trial 132", "trial 133", "trial 134", "trial 135",
                     "trial 136", "trial 137", "trial 138", "trial 139"}),
       "finished in "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Close();
    c.setup(*net);
    Open(c.waitMs);
    EXPECT_EQ(Status(), c.status) << log;
    EXPECT_EQ(net->events, c.requests);
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    EXPECT_EQ(log.find("failed\n", log.find("finished in")), std::string::npos) << log;
  }
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

TEST_F(ConnectionTest, ListeningGoesOnAcrossTimeOutsAndEmptyDatagramsAndEndsOnAFailedSocket) {
  Open();
  ASSERT_EQ(Status(), 0) << log;
  net->PushError();   // a receive time-out
  net->PushError();
  net->Push({});   // an empty datagram from the instrument
  net->Push(Hex("02 01 00 01  31 DE 0B 00"));   // time 777777 from module 0
  EXPECT_TRUE(WaitUntil([&] { return conn->GetCache()->GetLatestTime() == 777777; }));
  EXPECT_TRUE(conn->IsListening());
  EXPECT_GE(conn->GetCounters().receiveFailures, 2u);

  net->Shutdown();   // every receive now fails at once
  EXPECT_TRUE(WaitUntil([&] { return !conn->IsListening(); }));
  EXPECT_EQ(conn->GetListenThreadId(), kNoThread);
  EXPECT_EQ(Status(), 0);   // what the cache held stays readable
  conn->Close();
  EXPECT_EQ(conn->GetCache(), nullptr);
  EXPECT_EQ(conn->GetCacheMutex(), nullptr);
  EXPECT_EQ(net->OpenSocketCount(), 0);
  conn->Close();   // a second close does nothing
}

TEST_F(ConnectionTest, TheBacklogKeepsArrivalOrderWhileTheMutexIsHeldAndCountsDropsWhenFull) {
  Open();
  ASSERT_EQ(Status(), 0) << log;
  constexpr uint32_t kFrames = 300;
  const ListenCounters start = conn->GetCounters();
  {
    std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
    PushFrames(0, kFrames, 100000);   // the thread keeps receiving while the mutex is held
    EXPECT_EQ(conn->GetCounters().backlogged, start.backlogged + kFrames);
    EXPECT_GE(conn->GetCounters().backlogHighWater, kFrames);
  }
  // With the mutex free, each new datagram queues itself and takes kDrainPerDatagram of the
  // oldest: the thread works the backlog off by itself and files the new ones behind it.
  constexpr uint32_t kMore = kFrames / (VornConnection::kDrainPerDatagram - 1) + 1;
  PushFrames(kFrames, kFrames + kMore, 100000);
  {
    std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
    ExpectLatestRawInOrder(kFrames + kMore);
    EXPECT_EQ(conn->GetCounters().backlogDrops, 0u);
  }

  // Full: the newest datagrams are dropped and counted. The mutex holder drains the backlog
  // before it reads: the oldest, complete and in order.
  constexpr uint32_t kSlots = VornConnection::kBacklogSlots;
  std::lock_guard<std::mutex> lock(*conn->GetCacheMutex());
  PushFrames(0, kSlots + 5, 300000);
  EXPECT_EQ(conn->GetCounters().backlogDrops, 5u);
  EXPECT_EQ(conn->GetCounters().backlogHighWater, kSlots);
  conn->DrainBacklogLocked();
  ExpectLatestRawInOrder(kSlots);
}

}  // namespace
}  // namespace vorn
