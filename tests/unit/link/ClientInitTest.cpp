// Opening the sockets: interface choice, status codes and their messages.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FakeNetPlatform.h"
#include "VornClient.h"
#include "VornProtocol.h"

namespace vorn {
namespace {

using test::FakeNetPlatform;
using test::Ipv4;

struct Opened {
  std::unique_ptr<VornClient> client;
  std::string err;   // what the constructor wrote to standard error
};

Opened Open(const std::shared_ptr<FakeNetPlatform>& net) {
  ::testing::internal::CaptureStderr();
  Opened o;
  o.client = std::make_unique<VornClient>(kRecvBufferSize, kSendBufferSize, net);
  o.err = ::testing::internal::GetCapturedStderr();
  return o;
}

TEST(ClientInit, ReadyClientConfiguresBothSockets) {
  auto net = std::make_shared<FakeNetPlatform>();
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 0);
  EXPECT_EQ(o.err, "");
  const auto sockets = net->OpenedSockets();
  ASSERT_EQ(sockets.size(), 2u);
  const auto recv = net->Socket(sockets[0]);
  EXPECT_EQ(recv.recvTimeoutMs, 1000);
  EXPECT_EQ(recv.recvBufferRequested, 425984);
  EXPECT_EQ(recv.boundPort, 2046);
  EXPECT_FALSE(recv.broadcast);
  const auto send = net->Socket(sockets[1]);
  EXPECT_TRUE(send.broadcast);
  EXPECT_EQ(send.sendBufferRequested, 131072);
  EXPECT_EQ(send.boundPort, -1);
}

TEST(ClientInit, ChoosesTheInterfaceOnTheInstrumentNetwork) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->interfaces = {Ipv4(127, 0, 0, 1), Ipv4(10, 0, 0, 5), Ipv4(192, 168, 42, 20),
                     Ipv4(192, 168, 42, 30)};
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 0);
  EXPECT_EQ(o.client->GetInterfaceAddress(), Ipv4(192, 168, 42, 20));
}

TEST(ClientInit, NoInterfaceOnTheInstrumentNetworkIsStatus3) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->interfaces = {Ipv4(192, 168, 43, 20), Ipv4(192, 168, 41, 20), Ipv4(193, 168, 42, 20)};
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 3);
  EXPECT_EQ(o.client->GetInterfaceAddress(), 0u);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(net->Socket(net->OpenedSockets()[0]).boundPort, -1);
}

TEST(ClientInit, UnreadableInterfaceListIsStatus3) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->failInterfaceList = true;
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 3);
  EXPECT_EQ(o.err, "");
}

TEST(ClientInit, NoReceiveSocketIsStatus1) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->failOpenCalls = {0};
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 1);
  EXPECT_EQ(o.err, "could not create socket\n");
}

TEST(ClientInit, NoSocketAtAllIsStatus1) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->failOpenCalls = {0, 1};
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 1);
  EXPECT_EQ(o.err, "could not create socket\nfailed to setup send socket");
}

TEST(ClientInit, NoSendSocketIsStatus2) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->failOpenCalls = {1};
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 2);
  EXPECT_EQ(o.err, "failed to setup send socket");
}

TEST(ClientInit, ASendSocketThatMayNotBroadcastCountsAsMissing) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->failSetBroadcast = true;
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 2);
  EXPECT_EQ(o.err, "failed to setup send socket options");
  EXPECT_EQ(net->OpenSocketCount(), 1);
}

TEST(ClientInit, ReceiveBufferGrantedSmallerIsStatus4) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->grantedRecvBuffer = 212992;
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 4);
  EXPECT_EQ(o.err, "Failed to set socket size: 212992\n");
  EXPECT_EQ(net->Socket(net->OpenedSockets()[0]).boundPort, -1);
}

TEST(ClientInit, ReceiveBufferRefusedIsStatus4) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->failSetRecvBuffer = true;
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 4);
  EXPECT_EQ(o.err, "failed to set socket size\n");
}

TEST(ClientInit, UnreadableReceiveBufferIsStatus4) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->recvBufferReadError = 22;
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 4);
  EXPECT_EQ(o.err, "getsockopt returned 22");
}

TEST(ClientInit, BindFailureIsStatus4) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->failBind = true;
  Opened o = Open(net);
  EXPECT_EQ(o.client->GetInitStatus(), 4);
  EXPECT_EQ(o.err, "failed to bind receive socket\n");
}

TEST(ClientInit, DestructorClosesBothSockets) {
  auto net = std::make_shared<FakeNetPlatform>();
  {
    Opened o = Open(net);
    EXPECT_EQ(net->OpenSocketCount(), 2);
  }
  EXPECT_EQ(net->OpenSocketCount(), 0);
}

TEST(ClientInit, StimElectrodeMapLookups) {
  auto net = std::make_shared<FakeNetPlatform>();
  Opened o = Open(net);
  o.client->SetStimElectrodes({{0, {5, 100}}, {63, {6, 131}}});
  ASSERT_NE(o.client->FindStimElectrode(63), nullptr);
  EXPECT_EQ(*o.client->FindStimElectrode(63), std::make_pair(6, 131));
  EXPECT_EQ(o.client->FindStimElectrode(1), nullptr);
  EXPECT_EQ(o.client->FindStimElectrode(-1), nullptr);
}

TEST(ClientInit, KernelDropsComeFromTheReceiveSocket) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->receiveDrops = 17;
  EXPECT_EQ(Open(net).client->KernelReceiveDrops(), 17);
  auto none = std::make_shared<FakeNetPlatform>();
  none->failOpenCalls = {0};
  EXPECT_EQ(Open(none).client->KernelReceiveDrops(), -1);
}

}  // namespace
}  // namespace vorn
