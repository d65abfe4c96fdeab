// Stim packets framed into datagrams for the KEL.
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

class StimFramingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net = std::make_shared<FakeNetPlatform>();
    client = std::make_unique<VornClient>(kRecvBufferSize, kSendBufferSize, net);
    ASSERT_EQ(client->GetInitStatus(), 0);
    std::map<int, std::pair<int, int>> electrodes;
    for (int e = 0; e < 64; ++e) electrodes[e] = {e < 32 ? 5 : 7, 0x100 + e};
    client->SetStimElectrodes(electrodes);
  }
  // n lists of `words` words each, for electrodes 0, 1, 2...
  static std::vector<StimWordList> Lists(int n, int words) {
    std::vector<StimWordList> out;
    for (int i = 0; i < n; ++i) {
      StimWordList l;
      l.electrode = static_cast<uint32_t>(i);
      for (int w = 0; w < words; ++w) l.words.push_back(0xA0000000u + (i << 8) + w);
      out.push_back(l);
    }
    return out;
  }
  std::vector<size_t> DatagramSizes() const {
    std::vector<size_t> out;
    for (const auto& d : net->Sent()) out.push_back(d.bytes.size());
    return out;
  }

  std::shared_ptr<FakeNetPlatform> net;
  std::unique_ptr<VornClient> client;
};

TEST_F(StimFramingTest, TwoElectrodesGoInOneDatagramToTheKel) {
  std::vector<StimWordList> lists(2);
  lists[0].electrode = 0;
  lists[0].words = {0x11223344, 0x01, 0x02, 0x03};
  lists[1].electrode = 33;
  lists[1].words = {0x55667788, 0xFFFFFFFF, 0, 0x80000000};
  EXPECT_EQ(client->SendStimWordLists(lists), 0);

  const auto sent = net->Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].addr, Ipv4(192, 168, 42, 1));
  EXPECT_EQ(sent[0].port, 2047);
  EXPECT_EQ(sent[0].socket, net->OpenedSockets().at(1));
  EXPECT_TRUE(BytesEqual(sent[0].bytes, Hex(
      // electrode 0: module 5, property 0x100
      "0B 00 00 00  00 00 00 00  01 05 00 01  00 00 00 00"
      "08 00 08 00  00 00 00 00  00 00 00 00"
      "44 33 22 11  01 00 00 00  02 00 00 00  03 00 00 00"
      // electrode 33: module 7, property 0x121
      "0B 00 00 00  00 00 00 00  01 07 21 01  00 00 00 00"
      "08 00 08 00  00 00 00 00  00 00 00 00"
      "88 77 66 55  FF FF FF FF  00 00 00 00  00 00 00 80")));
}

TEST_F(StimFramingTest, DatagramsStayBelow1500Bytes) {
  // 34 packets of 44 bytes fill 1496 bytes: still one datagram.
  EXPECT_EQ(client->SendStimWordLists(Lists(34, 4)), 0);
  EXPECT_EQ(DatagramSizes(), (std::vector<size_t>{1496}));
  net->ClearSent();

  // 25 packets of 60 bytes would be exactly 1500: the last one moves on.
  EXPECT_EQ(client->SendStimWordLists(Lists(25, 8)), 0);
  EXPECT_EQ(DatagramSizes(), (std::vector<size_t>{1440, 60}));
  const auto sent = net->Sent();
  EXPECT_EQ(sent[1].bytes[9], 5);
  EXPECT_EQ(sent[1].bytes[10], 0x18);   // electrode 24 starts the second datagram
}

TEST_F(StimFramingTest, NoListsSendsAnEmptyDatagram) {
  EXPECT_EQ(client->SendStimWordLists({}), 0);
  EXPECT_EQ(DatagramSizes(), (std::vector<size_t>{0}));
}

TEST_F(StimFramingTest, AnUnknownElectrodeSendsNothingAtAll) {
  auto lists = Lists(60, 8);   // would take three datagrams
  lists[55].electrode = 500;
  EXPECT_EQ(client->SendStimWordLists(lists), 1);
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(StimFramingTest, AFailedSendIsReported) {
  net->failSendCalls = {0};
  EXPECT_EQ(client->SendStimWordLists(Lists(25, 8)), 3);
  EXPECT_EQ(net->SentCount(), 1u);   // nothing after the failed datagram

  net->ClearSent();
  net->failSendCalls = {1};   // the final datagram of the next call
  EXPECT_EQ(client->SendStimWordLists(Lists(2, 4)), 3);
}

TEST_F(StimFramingTest, WordListsLongerThanOnePacketAreRefused) {
  EXPECT_EQ(client->SendStimWordLists(Lists(1, 249)), 3);
  EXPECT_EQ(net->SentCount(), 0u);

  EXPECT_EQ(client->SendStimWordLists(Lists(1, 248)), 0);
  const auto sent = net->Sent();
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].bytes.size(), 1020u);
  EXPECT_EQ(sent[0].bytes[0], 255);
  EXPECT_TRUE(BytesEqual({sent[0].bytes.begin() + 16, sent[0].bytes.begin() + 20},
                         Hex("F0 01 F0 01")));
}

}  // namespace
}  // namespace vorn
