// VornPacketList::Fill plus splitting, as the listening thread does it for
// every datagram: 1480-byte datagrams of 19 continuous frames of 76 bytes
// (32 channels) and one 36-byte frame to fill the datagram.
// Prints datagrams/s and packets/s; asserts nothing.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "RecordBuilder.h"
#include "VornPacketList.h"

namespace {

std::vector<uint8_t> MakeDatagram() {
  using vorn::build::Append;
  using vorn::build::ContPacket;
  std::vector<uint8_t> d;
  uint32_t time = 1000;
  for (int i = 0; i < 19; ++i) Append(d, ContPacket(5, 1, time++, std::vector<int16_t>(32, 7)));
  Append(d, ContPacket(5, 2, time, std::vector<int16_t>(12, 3)));
  return d;
}

}  // namespace

int main() {
  using Clock = std::chrono::steady_clock;
  const std::vector<uint8_t> datagram = MakeDatagram();
  const int length = static_cast<int>(datagram.size());

  vorn::VornPacketList list(1500);
  list.Fill(datagram.data(), length);
  const uint32_t perDatagram = list.GetCount();
  std::printf("datagram: %d bytes, %u packets (%u of 76 bytes)\n", length, perDatagram,
              list.GetPacketLength(0) == 76 ? perDatagram - 1 : 0);

  // Touch every packet's header as the dispatch would, so nothing is
  // optimised away.
  uint64_t checksum = 0;
  auto runBatch = [&](uint64_t n) {
    for (uint64_t i = 0; i < n; ++i) {
      list.Fill(datagram.data(), length);
      const uint32_t count = list.GetCount();
      for (uint32_t p = 0; p < count; ++p) checksum += list.GetPacket(p)[3];
    }
  };

  runBatch(20000);   // warm-up
  for (int round = 0; round < 3; ++round) {
    uint64_t done = 0;
    const Clock::time_point start = Clock::now();
    double seconds = 0;
    while (seconds < 1.0) {
      runBatch(10000);
      done += 10000;
      seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double dps = static_cast<double>(done) / seconds;
    std::printf("round %d: %.0f datagrams/s, %.0f packets/s, %.0f MB/s, %.0f ns/datagram\n",
                round + 1, dps, dps * perDatagram, dps * length / 1e6, 1e9 / dps);
  }
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
  return 0;
}
