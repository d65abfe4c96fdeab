// Both ends of the link test, one per network namespace; exit status 0 when everything held,
// the reason otherwise on stderr.
//   link_probe inst READYFILE   the instrument (192.168.42.1, plus 10.9.9.9): waits for the
//                               host's request on port 2047, then sends one datagram from
//                               10.9.9.9 and one broadcast from 192.168.42.1 to port 2046
//   link_probe host             VornClient: broadcasts the request, then receives; only the
//                               instrument's datagram may arrive, the other is dropped
//   link_probe bare             VornClient with no instrument network
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VornClient.h"
#include "VornPacketList.h"
#include "VornProtocol.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Every property of module 7 of the KEL; a time packet from module 0; the same from an intruder.
const Bytes kRequest = {0x03, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x07, 0xFF, 0xFF};
const Bytes kReply = {0x03, 0x01, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00};
const Bytes kForeign = {0x03, 0x01, 0x00, 0x00, 0xEF, 0xBE, 0xAD, 0xDE, 0x01, 0x00, 0x00, 0x00};

constexpr int kWaitSeconds = 10;   // bound on every wait; never an assertion

int Fail(const char* what) {
  std::fprintf(stderr, "link_probe: %s\n", what);
  return 1;
}

sockaddr_in Address(const char* ip, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, ip, &sa.sin_addr);
  return sa;
}

int UdpSocket(const char* bindIp, uint16_t port) {
  const int s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  int one = 1;
  timeval tv{kWaitSeconds, 0};
  sockaddr_in sa = Address(bindIp, port);
  if (s < 0 || setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0 ||
      setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
      bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    return -1;
  }
  return s;
}

bool SendTo(int s, const Bytes& data, const char* ip, uint16_t port) {
  sockaddr_in to = Address(ip, port);
  return sendto(s, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(data.size());
}

int Instrument(const char* readyFile) {
  const int listener = UdpSocket("0.0.0.0", 2047);
  const int intruder = UdpSocket("10.9.9.9", 0);
  const int kel = UdpSocket("192.168.42.1", 0);
  if (listener < 0 || intruder < 0 || kel < 0) return Fail("instrument sockets");
  FILE* ready = std::fopen(readyFile, "w");
  if (ready == nullptr) return Fail("ready file");
  std::fclose(ready);

  uint8_t buf[2048];
  sockaddr_in from;
  socklen_t fromLen = sizeof from;
  const ssize_t n =
      recvfrom(listener, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
  if (n < 0) return Fail("no request arrived on port 2047");
  if (Bytes(buf, buf + n) != kRequest) return Fail("request bytes differ");
  char ip[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
  if (std::string(ip) != "192.168.42.20") return Fail("request not from 192.168.42.20");

  // The intruder's datagram first, so that the host sees it before the instrument's.
  if (!SendTo(intruder, kForeign, "192.168.42.20", 2046)) return Fail("intruder send");
  if (!SendTo(kel, kReply, "192.168.42.255", 2046)) return Fail("broadcast send");
  return 0;   // the sockets close with the process
}

int Host() {
  vorn::VornClient client(vorn::kRecvBufferSize, vorn::kSendBufferSize);
  if (client.GetInitStatus() != 0) return Fail("client not ready");
  if (client.GetInterfaceAddress() != 0xC0A82A14u) return Fail("interface is not 192.168.42.20");
  client.RequestProperty(1, 7, 0xFFFF);

  vorn::VornPacketList list(1500);
  int n = 0;
  for (int attempt = 0; attempt < kWaitSeconds && n < 1; ++attempt) n = client.Receive(list);
  if (n < 1) return Fail("nothing received on port 2046");
  if (n != static_cast<int>(kReply.size()) || list.GetCount() != 1) return Fail("wrong datagram");
  const uint8_t* p = list.GetPacket(0);
  if (Bytes(p, p + list.GetPacketLength(0)) != kReply) return Fail("bytes not the instrument's");
  if (client.ForeignDatagramsDropped() != 1) return Fail("the foreign datagram was not dropped");
  if (client.KernelReceiveDrops() != 0) return Fail("kernel drop count not readable or not 0");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "inst" && argc > 2) return Instrument(argv[2]);
  if (mode == "host") return Host();
  if (mode == "bare") {   // no instrument network here
    vorn::VornClient client(vorn::kRecvBufferSize, vorn::kSendBufferSize);
    return client.GetInitStatus() == 3 ? 0 : Fail("status is not 3 without the network");
  }
  std::fprintf(stderr, "usage: link_probe inst READYFILE | host | bare\n");
  return 2;
}
