// The real socket layer, without sending anything anywhere.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <vector>

#include "FakeNetPlatform.h"
#include "PosixNetPlatform.h"

namespace vorn {
namespace {

int RmemMax() {
  std::ifstream f("/proc/sys/net/core/rmem_max");
  int v = -1;
  f >> v;
  return v;
}

TEST(PosixNetPlatform, ReceiveBufferReadsBackWhatWasGranted) {
  PosixNetPlatform net;
  SocketHandle s = net.OpenUdpSocket();
  ASSERT_NE(s, kInvalidSocket);
  const int rmemMax = RmemMax();
  ASSERT_GT(rmemMax, 0);
  const int asked = 425984;
  ASSERT_TRUE(net.SetRecvBufferSize(s, asked));
  int granted = 0;
  ASSERT_EQ(net.GetRecvBufferSize(s, &granted), 0);
  EXPECT_EQ(granted, asked < rmemMax ? asked : rmemMax);

  // Asking for more than the system allows reads back as the cap: smaller
  // than asked.
  ASSERT_TRUE(net.SetRecvBufferSize(s, rmemMax + 4096));
  ASSERT_EQ(net.GetRecvBufferSize(s, &granted), 0);
  EXPECT_LT(granted, rmemMax + 4096);
  net.Close(s);
}

TEST(PosixNetPlatform, InterfaceListHasLoopback) {
  PosixNetPlatform net;
  std::vector<uint32_t> addrs;
  ASSERT_TRUE(net.ListInterfaceAddresses(&addrs));
  bool loopback = false;
  for (uint32_t a : addrs) loopback = loopback || a == test::Ipv4(127, 0, 0, 1);
  EXPECT_TRUE(loopback);
}

TEST(PosixNetPlatform, ReceiveTimesOutAndDropsAreReadable) {
  PosixNetPlatform net;
  SocketHandle s = net.OpenUdpSocket();
  ASSERT_NE(s, kInvalidSocket);
  ASSERT_TRUE(net.SetRecvTimeout(s, 20));
  ASSERT_TRUE(net.BindAny(s, 0));   // any free port
  uint8_t buf[16];
  uint32_t from = 12345;
  EXPECT_LT(net.ReceiveFrom(s, buf, sizeof buf, &from), 0);
  EXPECT_EQ(net.ReceiveDrops(s), 0);
  net.Close(s);
  EXPECT_EQ(net.ReceiveDrops(kInvalidSocket), -1);
}

}  // namespace
}  // namespace vorn
