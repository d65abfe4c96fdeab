// Every request, set and stim packet, byte for byte, where it goes, and what is refused.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <map>
#include <numeric>
#include <memory>
#include <vector>

#include "FakeNetPlatform.h"
#include "GoldenBytes.h"
#include "VornClient.h"
#include "VornProtocol.h"

namespace vorn {
namespace {

using test::BytesEqual;
using test::Hex;
using test::Ipv4;
using Bytes = std::vector<uint8_t>;

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class SendersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(client.GetInitStatus(), 0);
    std::map<int, std::pair<int, int>> electrodes;
    for (int e = 0; e < 64; ++e) electrodes[e] = {e < 32 ? 5 : 7, 0x100 + e};
    client.SetStimElectrodes(electrodes);
  }
  // n lists of `words` words each, for electrodes 0, 1, 2...
  static std::vector<StimWordList> Lists(int n, int words) {
    std::vector<StimWordList> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      out[i].electrode = static_cast<uint32_t>(i);
      for (int w = 0; w < words; ++w) out[i].words.push_back(0xA0000000u + (i << 8) + w);
    }
    return out;
  }
  std::vector<size_t> Sizes() const {
    std::vector<size_t> out;
    for (const auto& d : net->Sent()) out.push_back(d.bytes.size());
    return out;
  }

  std::shared_ptr<test::FakeNetPlatform> net = std::make_shared<test::FakeNetPlatform>();
  VornClient client{kRecvBufferSize, kSendBufferSize, net};
};

TEST_F(SendersTest, GoldenBytesBroadcastToTheInstrumentPort) {
  Bytes rec140(140), rec552(552), big(1008, 0x5A);
  std::iota(rec140.begin(), rec140.end(), 1);
  std::iota(rec552.begin(), rec552.end(), 7);
  const Bytes rec10 = Hex("01 1A 00 00 AA BB CC DD EE FF");
  const std::string dio = "08 00 00 00  00 00 00 00  01 22 35 00  01 04 00 00";
  const std::string dioTail = "00 00 00 00  00 00 00 00  00 00 00 00";
  const uint32_t i02[] = {0, 2}, v10[] = {1, 0}, i4[] = {4}, v4[] = {0x12345};
  const uint32_t iAll[] = {3, 0, 4, 1, 2}, vAll[] = {7, 0, 0xBEEF, 1, 1};
  const std::vector<StimWordList> stim = {{0, {0x11223344, 0x01, 0x02, 0x03}},
                                          {33, {0x55667788, 0xFFFFFFFF, 0, 0x80000000}}};
  struct Case {
    const char* name;
    std::function<bool()> send;
    Bytes expected;
    uint32_t addr = Ipv4(192, 168, 42, 255);   // stim packets go to the KEL
  };
  const Case cases[] = {
      {"all properties of module 7", [&] { client.RequestProperty(1, 7, 0xFFFF); return true; },
       Hex("03 00 00 00  00 00 00 00  01 07 FF FF")},
      {"SetBoolProperty(5, 300, 1)", [&] { return client.SetBoolProperty(5, 300, 1); },
       Hex("05 00 00 00  01 00 00 00  01 05 2C 01  01 03 00 00  01 00 00 00")},
      {"140-byte record", [&] { return client.SetFixedSizeProperty(rec140.data(), 9, 0x1234); },
       Cat(Hex("26 00 00 00  01 00 00 00  01 09 34 12"), rec140)},
      {"10-byte record in 24 bytes", [&] { return client.SetProperty(rec10.data(), 35, 7, 10); },
       Hex("06 00 00 00  01 00 00 00  01 23 07 00  01 1A 00 00  AA BB CC DD  EE FF 00 00")},
      {"1008-byte record", [&] { return client.SetProperty(big.data(), 2, 3, 1008); },
       Cat(Hex("FF 00 00 00  01 00 00 00  01 02 03 00"), big)},
      {"digital outputs 0x50010000", [&] { return client.SetDigitalOutputs(i02, v10, 2); },
       Hex(dio + "00 00 01 50" + dioTail)},
      {"digital outputs 0x0F002345", [&] { return client.SetDigitalOutputs(i4, v4, 1); },
       Hex(dio + "45 23 00 0F" + dioTail)},
      {"all five digital outputs", [&] { return client.SetDigitalOutputs(iAll, vAll, 5); },
       Hex(dio + "EF BE 0E FF" + dioTail)},
      {"no digital outputs", [&] { return client.SetDigitalOutputs(nullptr, nullptr, 0); },
       Hex(dio + "00 00 00 00" + dioTail)},
      {"trial of operator 128", [&] { return client.SendOperatorTrial(nullptr, 128); },
       Hex("03 00 00 00  01 00 00 00  80 00 01 00")},
      {"trial of operator 254", [&] { return client.SendOperatorTrial(nullptr, 254); },
       Hex("03 00 00 00  01 00 00 00  FE 00 01 00")},
      {"trial with its record", [&] { return client.SendOperatorTrial(rec552.data(), 200); },
       Cat(Hex("8D 00 00 00  01 00 00 00  C8 00 01 00"), rec552)},
      {"stim packets of electrodes 0 and 33 in one datagram",
       [&] { return client.SendStimWordLists(stim) == 0; },
       Hex(// electrode 0: module 5, property 0x100
           "0B 00 00 00  00 00 00 00  01 05 00 01  00 00 00 00  08 00 08 00  00 00 00 00"
           "00 00 00 00  44 33 22 11  01 00 00 00  02 00 00 00  03 00 00 00"
           // electrode 33: module 7, property 0x121
           "0B 00 00 00  00 00 00 00  01 07 21 01  00 00 00 00  08 00 08 00  00 00 00 00"
           "00 00 00 00  88 77 66 55  FF FF FF FF  00 00 00 00  00 00 00 80"),
       Ipv4(192, 168, 42, 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    net->ClearSent();
    EXPECT_TRUE(c.send());
    const auto sent = net->Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(BytesEqual(sent[0].bytes, c.expected));
    EXPECT_EQ(sent[0].addr, c.addr);
    EXPECT_EQ(sent[0].port, 2047);
    EXPECT_EQ(sent[0].socket, net->OpenedSockets().at(1));
  }
}

TEST_F(SendersTest, RefusalsSendNothing) {
  const Bytes big(1009, 0x5A);
  const uint32_t i05[] = {0, 5}, i121[] = {1, 2, 1}, i44[] = {4, 4}, v[] = {1, 0, 1};
  const std::function<bool()> refused[] = {
      [&] { return client.SetProperty(big.data(), 2, 3, 1009); },   // its size byte would wrap
      [&] { return client.SetProperty(nullptr, 2, 3, 4); },
      [&] { return client.SetFixedSizeProperty(nullptr, 2, 3); },
      [&] { return client.SetDigitalOutputs(i05, v, 2); },    // no output 5
      [&] { return client.SetDigitalOutputs(i121, v, 3); },   // output 1 twice
      [&] { return client.SetDigitalOutputs(i44, v, 2); },
      [&] { return client.SendOperatorTrial(nullptr, 100); },
      [&] { return client.SendOperatorTrial(nullptr, 127); },
      [&] { return client.SendOperatorTrial(nullptr, 255); },
  };
  for (size_t i = 0; i < std::size(refused); ++i) EXPECT_FALSE(refused[i]()) << "case " << i;
  EXPECT_EQ(net->SentCount(), 0u);

  net->sendResult = 0;   // a failed send is reported too
  EXPECT_FALSE(client.SetBoolProperty(0, 12, 0));
  net->sendResult = -1;
  EXPECT_FALSE(client.SetBoolProperty(0, 12, 0));
}

TEST_F(SendersTest, StimDatagramsStayBelow1500Bytes) {
  EXPECT_EQ(client.SendStimWordLists(Lists(34, 4)), 0);   // 34 x 44 = 1496: one datagram
  EXPECT_EQ(Sizes(), (std::vector<size_t>{1496}));
  net->ClearSent();
  EXPECT_EQ(client.SendStimWordLists(Lists(25, 8)), 0);   // 25 x 60 = 1500: the last moves on
  EXPECT_EQ(Sizes(), (std::vector<size_t>{1440, 60}));
  EXPECT_EQ(net->Sent()[1].bytes[10], 24);                 // electrode 24's property 0x118
  net->ClearSent();
  EXPECT_EQ(client.SendStimWordLists({}), 0);              // nothing: one empty datagram
  EXPECT_EQ(Sizes(), (std::vector<size_t>{0}));
}

TEST_F(SendersTest, StimRefusalsAndFailedSends) {
  auto lists = Lists(60, 8);   // would take three datagrams
  lists[55].electrode = 500;
  EXPECT_EQ(client.SendStimWordLists(lists), 1);
  EXPECT_EQ(client.SendStimWordLists(Lists(1, 249)), 3);   // longer than one packet
  EXPECT_EQ(net->SentCount(), 0u);

  EXPECT_EQ(client.SendStimWordLists(Lists(1, 248)), 0);
  ASSERT_EQ(net->SentCount(), 1u);
  const Bytes longest = net->Sent()[0].bytes;
  ASSERT_EQ(longest.size(), 1020u);
  EXPECT_TRUE(BytesEqual({longest.begin(), longest.begin() + 20},
                         Hex("FF 00 00 00  00 00 00 00  01 05 00 01  00 00 00 00  F0 01 F0 01")));

  net->ClearSent();
  net->failSendCalls = {1};   // the first datagram of this call fails
  EXPECT_EQ(client.SendStimWordLists(Lists(25, 8)), 3);
  EXPECT_EQ(net->SentCount(), 1u);   // nothing after it
  net->failSendCalls = {2};   // the final datagram of a later call
  EXPECT_EQ(client.SendStimWordLists(Lists(2, 4)), 3);
}

}  // namespace
}  // namespace vorn
