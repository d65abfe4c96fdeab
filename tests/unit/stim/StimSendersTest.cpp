// The stimulation senders: stim packets of stim strings, stop packets and
// sequences, byte for byte, and their framing into datagrams to the KEL.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FakeNetPlatform.h"
#include "GoldenBytes.h"
#include "StimSeq.h"
#include "VornClient.h"
#include "VornProtocol.h"

namespace vorn {
namespace {

using test::BytesEqual;
using test::Hex;

class StimSenders : public ::testing::Test {
 protected:
  void SetUp() override {
    client = std::make_unique<VornClient>(kRecvBufferSize, kSendBufferSize, net);
    // Electrode e stimulates through property 200 + e of module 1 (e < 32)
    // or module 3.
    std::map<int, std::pair<int, int>> electrodes;
    for (int e = 0; e < 64; ++e) electrodes[e] = {e < 32 ? 1 : 3, 200 + e};
    client->SetStimElectrodes(electrodes);
  }

  // Stim datagrams go to the KEL itself, never to the broadcast address.
  std::vector<std::vector<uint8_t>> KelDatagrams() const {
    std::vector<std::vector<uint8_t>> out;
    for (const test::SentDatagram& d : net->Sent()) {
      EXPECT_EQ(d.addr, kKelAddress);
      EXPECT_EQ(d.port, kInstrumentPort);
      out.push_back(d.bytes);
    }
    return out;
  }

  // Sequences of n words in all (header word included) for each electrode.
  static StimSeqMap SequencesOfWords(const std::vector<size_t>& wordCounts) {
    StimSeqMap map;
    for (size_t e = 0; e < wordCounts.size(); ++e) {
      map.SetSequence(static_cast<uint32_t>(e), 300, 1, 0);
      for (size_t s = 1; s < wordCounts[e]; ++s) {
        map.AddSegment(static_cast<uint32_t>(e), 1, 1, false, true, true, 0, false);
      }
    }
    return map;
  }

  std::shared_ptr<test::FakeNetPlatform> net = std::make_shared<test::FakeNetPlatform>();
  std::unique_ptr<VornClient> client;
};

const char* const kTwoElectrodes =
    "Elect=1,2;Freq=100,100;TL=1000,1000;CathDur=0.2,0.2;AnodDur=0.2,0.2;"
    "CathAmp=10,10;AnodAmp=10,10";

TEST_F(StimSenders, StimStringSendsOnePacketPerElectrodeInOneDatagram) {
  ASSERT_EQ(client->SendStimString(kTwoElectrodes), 0);
  const auto datagrams = KelDatagrams();
  ASSERT_EQ(datagrams.size(), 1u);
  EXPECT_TRUE(BytesEqual(datagrams[0], Hex("0B 00 00 00  00 00 00 00  01 01 C8 00  00 00 00 00"
                                           "08 00 08 00  00 00 00 00  00 00 00 00"
                                           "64 C0 12 00  0A A0 06 00  00 A0 02 00  8A A0 06 00"
                                           "0B 00 00 00  00 00 00 00  01 01 C9 00  00 00 00 00"
                                           "08 00 08 00  00 00 00 00  00 00 00 00"
                                           "64 C0 12 00  0A A0 06 00  00 A0 02 00  8A A0 06 00")));
}

TEST_F(StimSenders, StimStringThatFailsSendsNothing) {
  // Invalid record, no record at all, an electrode that does not stimulate.
  EXPECT_EQ(client->SendStimString("Elect=1,2;Freq=100"), 2);
  EXPECT_EQ(client->SendStimString(""), 2);
  EXPECT_EQ(client->SendStimString("enabled"), 2);
  EXPECT_EQ(client->SendStimString("Elect=1,65;Freq=100,100;TL=1000,1000;Dur=0.2,0.2;Amp=1,1"), 1);
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(StimSenders, DatagramsStayBelow1500Bytes) {
  // 40 packets of 44 bytes: 34 fill 1496 bytes, a 35th would reach 1540.
  std::string elect = "Elect=", freq = "Freq=", tl = "TL=", dur = "Dur=", amp = "Amp=";
  for (int e = 1; e <= 40; ++e) {
    const char* sep = e == 1 ? "" : ",";
    elect += sep + std::to_string(e);
    freq += std::string(sep) + "100";
    tl += std::string(sep) + "1000";
    dur += std::string(sep) + "0.2";
    amp += std::string(sep) + "10";
  }
  ASSERT_EQ(client->SendStimString(elect + ";" + freq + ";" + tl + ";" + dur + ";" + amp), 0);
  const auto datagrams = KelDatagrams();
  ASSERT_EQ(datagrams.size(), 2u);
  EXPECT_EQ(datagrams[0].size(), 34u * 44u);
  EXPECT_EQ(datagrams[1].size(), 6u * 44u);
  EXPECT_EQ(datagrams[1][10], 200 + 34);   // the 35th electrode opens the second
}

TEST_F(StimSenders, APacketThatWouldMakeExactly1500BytesGoesToTheNextDatagram) {
  // Three packets of 125 words (500 bytes): 1500 bytes is one too many.
  ASSERT_EQ(client->SendStimSequences(SequencesOfWords({118, 118, 118})), 0);
  auto datagrams = KelDatagrams();
  ASSERT_EQ(datagrams.size(), 2u);
  EXPECT_EQ(datagrams[0].size(), 1000u);
  EXPECT_EQ(datagrams[1].size(), 500u);
  EXPECT_EQ(datagrams[1][0], 125);

  net->ClearSent();
  ASSERT_EQ(client->SendStimSequences(SequencesOfWords({118, 118, 117})), 0);
  datagrams = KelDatagrams();
  ASSERT_EQ(datagrams.size(), 1u);
  EXPECT_EQ(datagrams[0].size(), 1496u);
}

TEST_F(StimSenders, FailedSendReportsThree) {
  net->failSendCalls = {0};
  EXPECT_EQ(client->SendStimSequences(SequencesOfWords({118, 118, 118})), 3);
  EXPECT_EQ(net->SentCount(), 1u);   // the second datagram is not attempted

  net->ClearSent();
  net->sendResult = 0;
  EXPECT_EQ(client->SendStimString(kTwoElectrodes), 3);
  EXPECT_EQ(client->SendStimStop({0}, 1), 3);
}

TEST_F(StimSenders, StopPacketIsAnEmptySequenceWithTheStopAction) {
  ASSERT_EQ(client->SendStimStop({0, 33}, 1), 0);
  auto datagrams = KelDatagrams();
  ASSERT_EQ(datagrams.size(), 1u);
  EXPECT_TRUE(BytesEqual(datagrams[0], Hex("08 00 00 00  00 00 00 00  01 01 C8 00  00 00 00 00"
                                           "02 00 02 00  00 00 00 00  00 00 00 00  00 00 00 10"
                                           "08 00 00 00  00 00 00 00  01 03 E9 00  00 00 00 00"
                                           "02 00 02 00  00 00 00 00  00 00 00 00  00 00 00 10")));

  net->ClearSent();
  ASSERT_EQ(client->SendStimStop({5}, 0), 0);
  ASSERT_EQ(client->SendStimStop({5}, 2), 0);
  datagrams = KelDatagrams();
  ASSERT_EQ(datagrams.size(), 2u);
  EXPECT_TRUE(BytesEqual({datagrams[0].begin() + 28, datagrams[0].end()}, Hex("00 00 00 00")));
  EXPECT_TRUE(BytesEqual({datagrams[1].begin() + 28, datagrams[1].end()}, Hex("00 00 00 20")));
}

TEST_F(StimSenders, StopWithUnknownCodeOrElectrodeSendsNothing) {
  EXPECT_EQ(client->SendStimStop({0}, 3), 2);
  EXPECT_EQ(client->SendStimStop({0}, -1), 2);
  EXPECT_EQ(client->SendStimStop({0, 99}, 1), 1);
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(StimSenders, SequencePacketAndElectrodeOrder) {
  StimSeqMap map;
  map.SetSequence(9, 1, 1, 0);   // user electrode 10
  map.SetSequence(2, 300, 10, 0);
  map.AddSegment(2, 6, 10, false, true, true, 0, false);
  map.SetSequence(6, 1, 1, 0);
  ASSERT_EQ(client->SendStimSequences(map), 0);
  const auto datagrams = KelDatagrams();
  ASSERT_EQ(datagrams.size(), 1u);
  const std::vector<uint8_t>& d = datagrams[0];
  ASSERT_EQ(d.size(), 36u + 32u + 32u);
  EXPECT_TRUE(BytesEqual({d.begin(), d.begin() + 36},
                         Hex("09 00 00 00  00 00 00 00  01 01 CA 00  00 00 00 00"
                             "04 00 04 00  00 00 00 00  00 00 00 00  0A C0 12 00  0A A0 06 00")));
  EXPECT_EQ(d[36 + 10], 200 + 6);
  EXPECT_EQ(d[68 + 10], 200 + 9);
}

TEST_F(StimSenders, SequenceSizeByteNeverWraps) {
  ASSERT_EQ(client->SendStimSequences(SequencesOfWords({248})), 0);   // 247 segments
  ASSERT_EQ(net->SentCount(), 1u);
  EXPECT_EQ(net->Sent()[0].bytes[0], 255);
  EXPECT_EQ(net->Sent()[0].bytes.size(), 1020u);

  net->ClearSent();
  EXPECT_EQ(client->SendStimSequences(SequencesOfWords({2, 249})), 3);
  EXPECT_EQ(client->SendStimSequences(SequencesOfWords({2, 400})), 3);
  EXPECT_EQ(net->SentCount(), 0u);
}

TEST_F(StimSenders, SequenceWithInvalidActionSendsNothing) {
  StimSeqMap map;
  map.SetSequence(0, 300, 1, 0);
  map.SetSequence(1, 300, 1, 9);
  EXPECT_NE(client->SendStimSequences(map), 0);
  EXPECT_EQ(net->SentCount(), 0u);
}

}  // namespace
}  // namespace vorn
