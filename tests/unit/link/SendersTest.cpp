// Every request and set packet, byte for byte, and where it goes.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "FakeNetPlatform.h"
#include "GoldenBytes.h"
#include "VornClient.h"
#include "VornProtocol.h"

namespace vorn {
namespace {

using test::BytesEqual;
using test::FakeNetPlatform;
using test::Hex;
using test::Ipv4;

class SendersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net = std::make_shared<FakeNetPlatform>();
    client = std::make_unique<VornClient>(kRecvBufferSize, kSendBufferSize, net);
    ASSERT_EQ(client->GetInitStatus(), 0);
    sendSocket = net->OpenedSockets().at(1);
  }
  // The one datagram sent since SetUp, checked to be a broadcast to the
  // instrument port on the send socket.
  std::vector<uint8_t> OnlyBroadcast() {
    auto sent = net->Sent();
    EXPECT_EQ(sent.size(), 1u);
    if (sent.empty()) return {};
    EXPECT_EQ(sent[0].addr, Ipv4(192, 168, 42, 255));
    EXPECT_EQ(sent[0].port, 2047);
    EXPECT_EQ(sent[0].socket, sendSocket);
    return sent[0].bytes;
  }

  std::shared_ptr<FakeNetPlatform> net;
  std::unique_ptr<VornClient> client;
  SocketHandle sendSocket = kInvalidSocket;
};

TEST_F(SendersTest, RequestForAllPropertiesOfModule7) {
  client->RequestProperty(1, 7, 0xFFFF);
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(), Hex("03 00 00 00  00 00 00 00  01 07 FF FF")));
}

TEST_F(SendersTest, RequestForEveryProcessorsDescriptor) {
  client->RequestProperty(255, 0, 0);
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(), Hex("03 00 00 00  00 00 00 00  FF 00 00 00")));
}

TEST_F(SendersTest, SetBoolPropertyPacket) {
  EXPECT_TRUE(client->SetBoolProperty(5, 300, 1));
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(),
                         Hex("05 00 00 00  01 00 00 00  01 05 2C 01  01 03 00 00  01 00 00 00")));
}

TEST_F(SendersTest, SetBoolPropertyReportsAFailedSend) {
  net->sendResult = 0;
  EXPECT_FALSE(client->SetBoolProperty(0, 12, 0));
  net->sendResult = -1;
  EXPECT_FALSE(client->SetBoolProperty(0, 12, 0));
}

TEST_F(SendersTest, SetFixedSizePropertySendsTheWhole140ByteRecord) {
  std::vector<uint8_t> record(140);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i + 1);
  EXPECT_TRUE(client->SetFixedSizeProperty(record.data(), 9, 0x1234));

  std::vector<uint8_t> expected = Hex("26 00 00 00  01 00 00 00  01 09 34 12");
  expected.insert(expected.end(), record.begin(), record.end());
  ASSERT_EQ(expected.size(), 152u);
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(), expected));
}

TEST_F(SendersTest, SetPropertyPadsA10ByteRecordToWholeWords) {
  const std::vector<uint8_t> record = Hex("01 1A 00 00 AA BB CC DD EE FF");
  EXPECT_TRUE(client->SetProperty(record.data(), 35, 7, 10));
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(), Hex("06 00 00 00  01 00 00 00  01 23 07 00"
                                              "01 1A 00 00  AA BB CC DD  EE FF 00 00")));
}

TEST_F(SendersTest, SetPropertyLimitIs1008ByteRecords) {
  std::vector<uint8_t> record(1009, 0x5A);
  EXPECT_FALSE(client->SetProperty(record.data(), 2, 3, 1009));
  EXPECT_EQ(net->SentCount(), 0u);

  EXPECT_TRUE(client->SetProperty(record.data(), 2, 3, 1008));
  const auto bytes = OnlyBroadcast();
  ASSERT_EQ(bytes.size(), 1020u);
  EXPECT_EQ(bytes[0], 255);
  EXPECT_EQ(bytes[1019], 0x5A);
}

TEST_F(SendersTest, SetPropertyRefusesAMissingRecord) {
  EXPECT_FALSE(client->SetProperty(nullptr, 2, 3, 4));
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(SendersTest, DigitalOutputsSingleBits) {
  const uint32_t idx[] = {0, 2};
  const uint32_t val[] = {1, 0};
  EXPECT_TRUE(client->SetDigitalOutputs(idx, val, 2));
  // Output word 0x50010000.
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(), Hex("08 00 00 00  00 00 00 00  01 22 35 00"
                                              "01 04 00 00  00 00 01 50"
                                              "00 00 00 00  00 00 00 00  00 00 00 00")));
}

TEST_F(SendersTest, DigitalOutputsWordKeepsItsLow16Bits) {
  const uint32_t idx[] = {4};
  const uint32_t val[] = {0x12345};
  EXPECT_TRUE(client->SetDigitalOutputs(idx, val, 1));
  const auto bytes = OnlyBroadcast();
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_TRUE(BytesEqual(std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 20),
                         Hex("45 23 00 0F")));  // 0x0F002345
}

TEST_F(SendersTest, DigitalOutputsAllFiveAtOnce) {
  const uint32_t idx[] = {3, 0, 4, 1, 2};
  const uint32_t val[] = {7, 0, 0xBEEF, 1, 1};
  EXPECT_TRUE(client->SetDigitalOutputs(idx, val, 5));
  const auto bytes = OnlyBroadcast();
  ASSERT_EQ(bytes.size(), 32u);
  // 0xF0000000 | 0x0F000000 | 0x000E0000 | 0xBEEF
  EXPECT_TRUE(BytesEqual(std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 20),
                         Hex("EF BE 0E FF")));
}

TEST_F(SendersTest, DigitalOutputsWithNoOutputsStillSendsAZeroWord) {
  EXPECT_TRUE(client->SetDigitalOutputs(nullptr, nullptr, 0));
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(), Hex("08 00 00 00  00 00 00 00  01 22 35 00"
                                              "01 04 00 00  00 00 00 00"
                                              "00 00 00 00  00 00 00 00  00 00 00 00")));
}

TEST_F(SendersTest, DigitalOutputsRefusesAnUnknownOrRepeatedOutput) {
  {
    const uint32_t idx[] = {0, 5};
    const uint32_t val[] = {1, 1};
    EXPECT_FALSE(client->SetDigitalOutputs(idx, val, 2));
  }
  {
    const uint32_t idx[] = {1, 2, 1};
    const uint32_t val[] = {1, 0, 0};
    EXPECT_FALSE(client->SetDigitalOutputs(idx, val, 3));
  }
  {
    const uint32_t idx[] = {4, 4};
    const uint32_t val[] = {1, 2};
    EXPECT_FALSE(client->SetDigitalOutputs(idx, val, 2));
  }
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(SendersTest, OperatorTrialRequest) {
  EXPECT_TRUE(client->SendOperatorTrial(nullptr, 128));
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(), Hex("03 00 00 00  01 00 00 00  80 00 01 00")));
}

TEST_F(SendersTest, OperatorTrialOutsideTheOperatorRangeSendsNothing) {
  EXPECT_FALSE(client->SendOperatorTrial(nullptr, 100));
  EXPECT_FALSE(client->SendOperatorTrial(nullptr, 127));
  EXPECT_FALSE(client->SendOperatorTrial(nullptr, 255));
  EXPECT_EQ(net->SentCount(), 0u);
  EXPECT_TRUE(client->SendOperatorTrial(nullptr, 254));
}

TEST_F(SendersTest, OperatorTrialWithItsRecord) {
  std::vector<uint8_t> record(552);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 7);
  EXPECT_TRUE(client->SendOperatorTrial(record.data(), 200));
  std::vector<uint8_t> expected = Hex("8D 00 00 00  01 00 00 00  C8 00 01 00");
  expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(), expected));
}

TEST_F(SendersTest, SendUsesTheSizeByteForTheLength) {
  const std::vector<uint8_t> packet = Hex("02 01 02 03  04 05 06 07  FF FF FF FF");
  EXPECT_EQ(client->Send(packet.data()), 8);
  EXPECT_TRUE(BytesEqual(OnlyBroadcast(), Hex("02 01 02 03  04 05 06 07")));
}

TEST(SendersWithoutSocket, SendersReportFailureWhenThereIsNoSendSocket) {
  auto net = std::make_shared<FakeNetPlatform>();
  net->failOpenCalls = {1};
  ::testing::internal::CaptureStderr();
  VornClient client(kRecvBufferSize, kSendBufferSize, net);
  ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(client.GetInitStatus(), 2);
  EXPECT_FALSE(client.SetBoolProperty(0, 1, 1));
  client.RequestProperty(1, 0, 0);
  EXPECT_EQ(net->SentCount(), 0u);
}

}  // namespace
}  // namespace vorn
