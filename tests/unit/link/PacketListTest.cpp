// Splitting a datagram into packets, and the 1500-byte limit.
#include <gtest/gtest.h>

#include <vector>

#include "RecordBuilder.h"
#include "VornPacketList.h"

namespace vorn {
namespace {

using Bytes = std::vector<uint8_t>;

// A packet of the given size in words, its bytes after the size byte set
// to fill.
Bytes Packet(uint8_t words, uint8_t fill) {
  Bytes p(static_cast<size_t>(words) * 4, fill);
  if (!p.empty()) p[0] = words;
  return p;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint32_t> Offsets(const VornPacketList& list) {
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < list.GetCount(); ++i) {
    out.push_back(static_cast<uint32_t>(list.GetPacket(i) - list.GetPacket(0)));
  }
  return out;
}

TEST(PacketList, SplitsTwoPacketsOf3And30Words) {
  VornPacketList list(1500);
  const Bytes d = Concat({Packet(3, 0x11), Packet(30, 0x22)});
  ASSERT_EQ(d.size(), 132u);
  list.Fill(d.data(), static_cast<int>(d.size()));
  EXPECT_EQ(Offsets(list), (std::vector<uint32_t>{0, 12}));
  EXPECT_EQ(list.GetPacketLength(0), 12u);
  EXPECT_EQ(list.GetPacketLength(1), 120u);
}

TEST(PacketList, SplitsPacketsOf3And30And7Words) {
  VornPacketList list(1500);
  const Bytes d = Concat({Packet(3, 1), Packet(30, 2), Packet(7, 3)});
  ASSERT_EQ(d.size(), 160u);
  list.Fill(d.data(), static_cast<int>(d.size()));
  EXPECT_EQ(Offsets(list), (std::vector<uint32_t>{0, 12, 132}));
  EXPECT_EQ(list.GetPacket(2)[1], 3);
}

TEST(PacketList, SplitsWhatTheInstrumentSends) {
  Bytes d;
  build::Append(d, build::ConfigPacket(1, 0, 77, 1, 0, 0, build::ProcessorDesc(40)));
  build::Append(d, build::ContPacket(5, 1, 1000, std::vector<int16_t>(32, -3)));
  build::Append(d, build::EventPacket(34, 1, 1001, 1, 0xFFFF, {1, 2, 3, 4}));
  VornPacketList list(1500);
  list.Fill(d.data(), static_cast<int>(d.size()));
  ASSERT_EQ(list.GetCount(), 3u);
  uint32_t total = 0;
  for (uint32_t i = 0; i < 3; ++i) total += list.GetPacketLength(i);
  EXPECT_EQ(total, d.size());
  EXPECT_EQ(list.GetPacketView(1).Module(), 5);
  EXPECT_EQ(list.GetPacketView(2).Size(), 28u);
}

TEST(PacketList, Accepts1499ByteDatagramsAndDrops1500) {
  VornPacketList list(1500);
  // 1499 bytes: one 255-word packet, one 119-word packet, 3 trailing bytes.
  Bytes d = Concat({Packet(255, 0xA), Packet(119, 0xB)});
  d.resize(1499, 0x01);
  ::testing::internal::CaptureStderr();
  list.Fill(d.data(), 1499);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(Offsets(list), (std::vector<uint32_t>{0, 1020}));
  EXPECT_EQ(list.GetPacket(1)[5], 0xB);

  d.resize(1500, 0x01);
  ::testing::internal::CaptureStderr();
  list.Fill(d.data(), 1500);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "VornPacketList: failed to allocate memory");
  EXPECT_EQ(list.GetCount(), 0u);
}

TEST(PacketList, ADroppedDatagramLeavesNothingOfTheLastOne) {
  VornPacketList list(64);
  const Bytes small = Packet(3, 0x77);
  list.Fill(small.data(), 12);
  ASSERT_EQ(list.GetCount(), 1u);
  const Bytes big(64, 0x01);
  ::testing::internal::CaptureStderr();
  list.Fill(big.data(), 64);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetPacket(0), nullptr);
}

TEST(PacketList, SizeZeroEndsTheSplitKeepingThePacketsBefore) {
  VornPacketList list(1500);
  const Bytes d = Concat({Packet(3, 1), Packet(2, 2), Bytes{0, 9, 9, 9}, Packet(3, 3)});
  list.Fill(d.data(), static_cast<int>(d.size()));
  EXPECT_EQ(Offsets(list), (std::vector<uint32_t>{0, 12}));

  const Bytes first = {0, 0, 0, 0, 3, 0, 0, 0};
  list.Fill(first.data(), 8);
  EXPECT_EQ(list.GetCount(), 0u);
}

TEST(PacketList, APacketRunningPastTheEndIsNotListed) {
  VornPacketList list(1500);
  Bytes d = Concat({Packet(3, 1), Packet(30, 2)});
  d.resize(d.size() - 4);   // the second packet is one word short
  list.Fill(d.data(), static_cast<int>(d.size()));
  EXPECT_EQ(Offsets(list), (std::vector<uint32_t>{0}));

  // A size byte alone, with nothing behind it.
  const Bytes stub = Concat({Packet(1, 1), Bytes{2}});
  list.Fill(stub.data(), static_cast<int>(stub.size()));
  EXPECT_EQ(list.GetCount(), 1u);
  EXPECT_EQ(list.GetPacketLength(0), 4u);
}

TEST(PacketList, ZeroFillsBehindTheDatagram) {
  VornPacketList list(1500);
  const Bytes full(1000, 0xEE);
  // 0xEE words = 952 bytes; the 48 bytes behind it start with 0xEE again
  // and run past the end.
  list.Fill(full.data(), 1000);
  ASSERT_EQ(list.GetCount(), 1u);
  const Bytes small = Packet(2, 0x44);
  list.Fill(small.data(), 8);
  ASSERT_EQ(list.GetCount(), 1u);
  const uint8_t* p = list.GetPacket(0);
  for (int i = 8; i < 1000; ++i) ASSERT_EQ(p[i], 0) << "at " << i;
}

TEST(PacketList, EmptyOrNegativeLengthGivesNoPackets) {
  VornPacketList list(1500);
  const Bytes d = Packet(3, 1);
  list.Fill(d.data(), 0);
  EXPECT_EQ(list.GetCount(), 0u);
  list.Fill(d.data(), -5);
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetPacketLength(0), 0u);
  EXPECT_TRUE(list.GetPacketView(0).Empty());
}

TEST(PacketList, MostPacketsInOneDatagram) {
  VornPacketList list(1500);
  Bytes d;
  for (int i = 0; i < 374; ++i) build::Append(d, Packet(1, 0));
  ASSERT_EQ(d.size(), 1496u);
  list.Fill(d.data(), static_cast<int>(d.size()));
  EXPECT_EQ(list.GetCount(), 374u);
  EXPECT_EQ(list.GetPacket(373) - list.GetPacket(0), 1492);
}

}  // namespace
}  // namespace vorn
