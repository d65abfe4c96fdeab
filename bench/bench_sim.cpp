// Counts what the simulator delivers: receives on UDP port 2046 for a while
// (recvmmsg batches) and prints datagrams, packets and bytes per second,
// and how many of module 0's time packets (one per 30 ticks) went missing,
// which is the loss on the way. Run it in the host namespace of the test
// network while vornsim runs in the instrument namespace; bench/bench_sim.sh
// does both.
//   bench_sim [--seconds S] [--port P]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ByteOrder.h"

int main(int argc, char** argv) {
  double seconds = 10;
  int port = 2046;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--seconds") seconds = std::atof(argv[i + 1]);
    if (arg == "--port") port = std::atoi(argv[i + 1]);
  }
  const int s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  int size = 8 * 1024 * 1024;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  timeval tv{0, 200000};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(static_cast<uint16_t>(port));
  sin.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(s, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
    std::perror("bench_sim: bind");
    return 1;
  }

  constexpr size_t kBatch = 64;
  std::vector<uint8_t> buffers(kBatch * 1500);
  std::vector<iovec> iov(kBatch);
  std::vector<mmsghdr> msgs(kBatch);
  for (size_t i = 0; i < kBatch; ++i) {
    iov[i] = {&buffers[i * 1500], 1500};
    msgs[i] = mmsghdr{};
    msgs[i].msg_hdr.msg_iov = &iov[i];
    msgs[i].msg_hdr.msg_iovlen = 1;
  }

  uint64_t datagrams = 0, packets = 0, bytes = 0, timePackets = 0, timeMissing = 0;
  bool haveTime = false;
  uint32_t lastTime = 0;
  bool started = false;
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    const int n = recvmmsg(s, msgs.data(), kBatch, 0, nullptr);
    const auto now = std::chrono::steady_clock::now();
    if (started && std::chrono::duration<double>(now - start).count() >= seconds) break;
    if (n <= 0) continue;
    if (!started) {
      // Count from the first datagram on.
      started = true;
      start = now;
    }
    for (int k = 0; k < n; ++k) {
      const uint8_t* d = &buffers[static_cast<size_t>(k) * 1500];
      const size_t len = msgs[static_cast<size_t>(k)].msg_len;
      ++datagrams;
      bytes += len;
      for (size_t off = 0; off < len;) {
        const size_t words = d[off];
        if (words == 0 || off + words * 4 > len) break;
        ++packets;
        const uint8_t* p = d + off;
        if (words >= 3 && p[1] == 1 && p[2] == 0 && p[3] == 1) {
          const uint32_t t = vorn::LoadU32(p + 4);
          if (haveTime && t - lastTime > 30 && t - lastTime < 30u * 100000u) {
            timeMissing += (t - lastTime) / 30 - 1;
          }
          lastTime = t;
          haveTime = true;
          ++timePackets;
        }
        off += words * 4;
      }
    }
  }
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "bench_sim: %.1f s: %.0f packets/s, %.0f datagrams/s, %.1f MB/s (%.1f packets per "
      "datagram); time packets %llu received, %llu missing (%.3f %%)\n",
      elapsed, static_cast<double>(packets) / elapsed, static_cast<double>(datagrams) / elapsed,
      static_cast<double>(bytes) / elapsed / 1e6,
      datagrams ? static_cast<double>(packets) / static_cast<double>(datagrams) : 0.0,
      static_cast<unsigned long long>(timePackets), static_cast<unsigned long long>(timeMissing),
      timePackets + timeMissing
          ? 100.0 * static_cast<double>(timeMissing) / static_cast<double>(timePackets + timeMissing)
          : 0.0);
  close(s);
  return 0;
}
