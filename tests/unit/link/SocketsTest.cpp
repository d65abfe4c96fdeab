// Opening the sockets (interface choice, status codes, messages), one receive, and the real
// socket layer without sending anything anywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeNetPlatform.h"
#include "GoldenBytes.h"
#include "PosixNetPlatform.h"
#include "VornClient.h"
#include "VornPacketList.h"
#include "VornProtocol.h"

namespace vorn {
namespace {

using test::FakeNetPlatform;
using test::Hex;
using test::Ipv4;

TEST(ClientInit, InterfaceChoiceStatusCodesAndMessages) {
  struct Case {
    const char* name;
    std::function<void(FakeNetPlatform&)> setup;
    int status;
    const char* err;
    int openSockets;
  };
  const Case cases[] = {
      {"ready: 10.0.0.5 and 192.168.42.20",
       [](FakeNetPlatform& n) { n.interfaces = {Ipv4(10, 0, 0, 5), Ipv4(192, 168, 42, 20)}; }, 0,
       "", 2},
      {"no receive socket", [](FakeNetPlatform& n) { n.failOpenCalls = {0}; }, 1,
       "could not create socket\n", 1},
      {"no socket at all", [](FakeNetPlatform& n) { n.failOpenCalls = {0, 1}; }, 1,
       "could not create socket\nfailed to setup send socket", 0},
      {"no send socket", [](FakeNetPlatform& n) { n.failOpenCalls = {1}; }, 2,
       "failed to setup send socket", 1},
      {"send socket may not broadcast", [](FakeNetPlatform& n) { n.failSetBroadcast = true; }, 2,
       "failed to setup send socket options", 1},
      {"near misses of 192.168.42.0/24", [](FakeNetPlatform& n) {
         n.interfaces = {Ipv4(192, 168, 43, 20), Ipv4(192, 168, 41, 20), Ipv4(193, 168, 42, 20)};
       }, 3, "", 2},
      {"no interface list", [](FakeNetPlatform& n) { n.failInterfaceList = true; }, 3, "", 2},
      {"buffer granted smaller", [](FakeNetPlatform& n) { n.grantedRecvBuffer = 212992; }, 4,
       "Failed to set socket size: 212992\n", 2},
      {"buffer refused", [](FakeNetPlatform& n) { n.failSetRecvBuffer = true; }, 4,
       "failed to set socket size\n", 2},
      {"buffer unreadable", [](FakeNetPlatform& n) { n.recvBufferReadError = 22; }, 4,
       "getsockopt returned 22", 2},
      {"bind fails", [](FakeNetPlatform& n) { n.failBind = true; }, 4,
       "failed to bind receive socket\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto net = std::make_shared<FakeNetPlatform>();
    c.setup(*net);
    ::testing::internal::CaptureStderr();
    auto client = std::make_unique<VornClient>(kRecvBufferSize, kSendBufferSize, net);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(client->GetInitStatus(), c.status);
    EXPECT_EQ(net->OpenSocketCount(), c.openSockets);
    const bool onNetwork = c.status != 1 && c.status != 3;
    EXPECT_EQ(client->GetInterfaceAddress(), onNetwork ? Ipv4(192, 168, 42, 20) : 0u);
    // Port 2046 is bound only by a receive socket that is ready.
    int bound = 0;
    for (SocketHandle s : net->OpenedSockets()) bound += net->Socket(s).boundPort == 2046;
    EXPECT_EQ(bound, c.status == 0 || c.status == 2 ? 1 : 0);
    if (c.status == 0) {
      EXPECT_EQ(net->Socket(net->OpenedSockets()[0]).recvBufferRequested, 425984);
      EXPECT_TRUE(net->Socket(net->OpenedSockets()[1]).broadcast);
    }
    // Without a socket the platform is not asked to receive, and nothing is sent.
    ::testing::internal::CaptureStderr();
    if (c.status == 1) {
      net->Push(Hex("01 00 00 00"));
      VornPacketList list(1500);
      EXPECT_LT(client->Receive(list), 1);
      EXPECT_EQ(net->Pending(), 1u);
    } else if (c.status == 2) {
      EXPECT_FALSE(client->SetBoolProperty(0, 1, 1));
      client->RequestProperty(1, 0, 0);
      EXPECT_EQ(net->SentCount(), 0u);
    }
    ::testing::internal::GetCapturedStderr();
    client.reset();
    EXPECT_EQ(net->OpenSocketCount(), 0);
  }
}

TEST(Receive, ForeignDatagramsAreDroppedAndCountedAndFailuresReported) {
  auto net = std::make_shared<FakeNetPlatform>();
  VornClient client(kRecvBufferSize, kSendBufferSize, net);
  VornPacketList list(1500);
  std::string err;
  auto receive = [&] {
    ::testing::internal::CaptureStderr();
    const int n = client.Receive(list);
    err = ::testing::internal::GetCapturedStderr();
    return n;
  };
  const auto recvSocket = net->OpenedSockets().at(0);
  const auto foreign = Hex("03 01 05 00  99 00 00 00  01 05 02 00");
  net->Push(foreign, Ipv4(10, 9, 9, 9));
  net->Push(foreign, Ipv4(192, 168, 43, 1));
  net->Push({}, Ipv4(172, 16, 0, 1));   // an empty one does not end it either
  net->Push(Hex("03 01 00 00  10 00 00 00  01 00 00 00"), Ipv4(192, 168, 42, 200));
  EXPECT_EQ(receive(), 12);
  EXPECT_EQ(err, "");
  EXPECT_EQ(client.ForeignDatagramsDropped(), 3u);
  ASSERT_EQ(list.GetCount(), 1u);
  EXPECT_EQ(list.GetPacketView(0).Time(), 0x10u);
  EXPECT_EQ(net->Socket(recvSocket).recvTimeoutMs, 1000);   // restored after shortened waits

  net->Push(foreign, Ipv4(10, 0, 0, 1));   // only foreign datagrams: ends as a time-out
  EXPECT_LT(receive(), 1);
  EXPECT_EQ(err, "Failed to recieve data\n");
  EXPECT_EQ(client.ForeignDatagramsDropped(), 4u);
  EXPECT_EQ(net->Socket(recvSocket).recvTimeoutMs, 1000);

  net->PushError();   // as a time-out
  EXPECT_LT(receive(), 0);
  EXPECT_EQ(err, "Failed to recieve data\n");
  net->Push({});   // an empty datagram from the instrument ends the receive
  EXPECT_EQ(receive(), 0);
  EXPECT_EQ(err, "Failed to recieve data\n");
  net->Push(std::vector<uint8_t>(1600, 0x01));   // cut to the 1500-byte buffer, then dropped
  EXPECT_EQ(receive(), 1500);
  EXPECT_EQ(err, "VornPacketList: failed to allocate memory");
  EXPECT_EQ(list.GetCount(), 0u);
}

TEST(PosixNetPlatform, ReceiveBufferReadsBackAsGrantedAndReceivesTimeOut) {
  PosixNetPlatform net;
  const SocketHandle s = net.OpenUdpSocket();
  ASSERT_NE(s, kInvalidSocket);
  int rmemMax = -1;
  std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
  ASSERT_GT(rmemMax, 0);
  int granted = 0;
  ASSERT_TRUE(net.SetRecvBufferSize(s, 425984));
  ASSERT_EQ(net.GetRecvBufferSize(s, &granted), 0);
  EXPECT_EQ(granted, std::min(425984, rmemMax));   // as set, not the kernel's doubled figure
  ASSERT_TRUE(net.SetRecvBufferSize(s, rmemMax + 4096));
  ASSERT_EQ(net.GetRecvBufferSize(s, &granted), 0);
  EXPECT_LT(granted, rmemMax + 4096);

  ASSERT_TRUE(net.SetRecvTimeout(s, 20));
  ASSERT_TRUE(net.BindAny(s, 0));   // any free port; nothing is sent to it
  uint8_t buf[16];
  uint32_t from = 0;
  EXPECT_LT(net.ReceiveFrom(s, buf, sizeof buf, &from), 0);
  net.Close(s);
}

}  // namespace
}  // namespace vorn
