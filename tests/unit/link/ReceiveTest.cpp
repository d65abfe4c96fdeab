// One receive: what reaches the packet list and what is dropped.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeNetPlatform.h"
#include "GoldenBytes.h"
#include "VornClient.h"
#include "VornPacketList.h"
#include "VornProtocol.h"

namespace vorn {
namespace {

using test::FakeNetPlatform;
using test::Hex;
using test::Ipv4;

class ReceiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net = std::make_shared<FakeNetPlatform>();
    client = std::make_unique<VornClient>(kRecvBufferSize, kSendBufferSize, net);
    ASSERT_EQ(client->GetInitStatus(), 0);
    recvSocket = net->OpenedSockets().at(0);
  }
  int ReceiveCapturing(std::string* err) {
    ::testing::internal::CaptureStderr();
    const int n = client->Receive(list);
    *err = ::testing::internal::GetCapturedStderr();
    return n;
  }

  std::shared_ptr<FakeNetPlatform> net;
  std::unique_ptr<VornClient> client;
  VornPacketList list{1500};
  SocketHandle recvSocket = kInvalidSocket;
  const std::vector<uint8_t> kelPacket = Hex("03 01 00 00  10 00 00 00  01 00 00 00");
  const std::vector<uint8_t> foreignPacket = Hex("03 01 05 00  99 00 00 00  01 05 02 00");
};

TEST_F(ReceiveTest, ADatagramFromTheInstrumentFillsTheList) {
  net->Push(kelPacket, Ipv4(192, 168, 42, 1));
  std::string err;
  EXPECT_EQ(ReceiveCapturing(&err), 12);
  EXPECT_EQ(err, "");
  ASSERT_EQ(list.GetCount(), 1u);
  EXPECT_EQ(list.GetPacketView(0).Time(), 0x10u);
}

TEST_F(ReceiveTest, DatagramsFromOutsideTheSubnetAreDroppedAndCounted) {
  net->Push(foreignPacket, Ipv4(10, 9, 9, 9));
  net->Push(foreignPacket, Ipv4(192, 168, 43, 1));
  net->Push({}, Ipv4(172, 16, 0, 1));   // an empty one must not end the receive
  net->Push(kelPacket, Ipv4(192, 168, 42, 200));
  std::string err;
  EXPECT_EQ(ReceiveCapturing(&err), 12);
  EXPECT_EQ(err, "");
  EXPECT_EQ(client->ForeignDatagramsDropped(), 3u);
  ASSERT_EQ(list.GetCount(), 1u);
  EXPECT_EQ(list.GetPacketView(0).Time(), 0x10u);
  // The receive time-out is back to normal afterwards.
  EXPECT_EQ(net->Socket(recvSocket).recvTimeoutMs, 1000);
}

TEST_F(ReceiveTest, OnlyForeignDatagramsEndAsATimeOut) {
  list.Fill(kelPacket.data(), 12);
  net->Push(foreignPacket, Ipv4(10, 0, 0, 1));
  std::string err;
  EXPECT_LT(ReceiveCapturing(&err), 1);
  EXPECT_EQ(err, "Failed to recieve data\n");
  EXPECT_EQ(client->ForeignDatagramsDropped(), 1u);
  EXPECT_EQ(net->Socket(recvSocket).recvTimeoutMs, 1000);
}

TEST_F(ReceiveTest, AnEmptyDatagramFromTheInstrumentEndsTheReceive) {
  net->Push({}, Ipv4(192, 168, 42, 1));
  std::string err;
  EXPECT_EQ(ReceiveCapturing(&err), 0);
  EXPECT_EQ(err, "Failed to recieve data\n");
}

TEST_F(ReceiveTest, TimeOutAndErrorsReportAFailedReceive) {
  std::string err;
  EXPECT_LT(ReceiveCapturing(&err), 0);
  EXPECT_EQ(err, "Failed to recieve data\n");
  net->PushError();
  EXPECT_LT(ReceiveCapturing(&err), 0);
  EXPECT_EQ(err, "Failed to recieve data\n");
}

TEST_F(ReceiveTest, AFullSizeDatagramIsDropped) {
  std::vector<uint8_t> big(1600, 0x01);
  net->Push(big, Ipv4(192, 168, 42, 1));
  std::string err;
  EXPECT_EQ(ReceiveCapturing(&err), 1500);
  EXPECT_EQ(err, "VornPacketList: failed to allocate memory");
  EXPECT_EQ(list.GetCount(), 0u);
}

TEST(ReceiveWithoutSocket, FailsWithoutTouchingThePlatform) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->failOpenCalls = {0};
  ::testing::internal::CaptureStderr();
  VornClient client(kRecvBufferSize, kSendBufferSize, net);
  net->Push(Hex("01 00 00 00"));
  VornPacketList list(1500);
  EXPECT_LT(client.Receive(list), 1);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(net->Pending(), 1u);
}

}  // namespace
}  // namespace vorn
