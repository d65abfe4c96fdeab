#include "SimTransport.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace vornsim {

bool HasLocalAddress(uint32_t address) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* it = list; it != nullptr && !found; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in sin;
    std::memcpy(&sin, it->ifa_addr, sizeof sin);
    found = ntohl(sin.sin_addr.s_addr) == address;
  }
  freeifaddrs(list);
  return found;
}

std::string AddressText(uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

bool ParseAddress(const std::string& text, uint32_t* out) {
  in_addr a;
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  *out = ntohl(a.s_addr);
  return true;
}

UdpSimTransport::~UdpSimTransport() {
  if (mSocket >= 0) close(mSocket);
}

bool UdpSimTransport::Open(uint32_t bindAddr, uint16_t port, uint32_t destAddr, uint16_t destPort,
                           std::string* error) {
  mSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (mSocket < 0) {
    *error = std::string("cannot create socket: ") + std::strerror(errno);
    return false;
  }
  int one = 1;
  if (setsockopt(mSocket, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) {
    *error = std::string("cannot enable broadcast: ") + std::strerror(errno);
    return false;
  }
  setsockopt(mSocket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // Each received datagram then carries its destination address (the
  // instrument's own or the broadcast) as a control message. Without it the
  // log just leaves the destination out.
  setsockopt(mSocket, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
  // Large send buffer so that a full-load batch does not block; the system
  // caps it at its own maximum.
  int sendBuffer = 4 * 1024 * 1024;
  setsockopt(mSocket, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = htonl(bindAddr);
  if (bind(mSocket, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
    *error = "cannot bind " + AddressText(bindAddr) + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    return false;
  }
  mDestAddr = destAddr;
  mDestPort = destPort;
  return true;
}

size_t UdpSimTransport::SendDatagrams(const uint8_t* const* data, const size_t* lengths,
                                      size_t count) {
  if (mSocket < 0 || count == 0) return 0;
  sockaddr_in dest{};
  dest.sin_family = AF_INET;
  dest.sin_port = htons(mDestPort);
  dest.sin_addr.s_addr = htonl(mDestAddr);
  std::vector<iovec> iov(count);
  std::vector<mmsghdr> msgs(count);
  for (size_t i = 0; i < count; ++i) {
    iov[i].iov_base = const_cast<uint8_t*>(data[i]);
    iov[i].iov_len = lengths[i];
    msgs[i] = mmsghdr{};
    msgs[i].msg_hdr.msg_name = &dest;
    msgs[i].msg_hdr.msg_namelen = sizeof dest;
    msgs[i].msg_hdr.msg_iov = &iov[i];
    msgs[i].msg_hdr.msg_iovlen = 1;
  }
  size_t sent = 0;
  size_t failed = 0;
  while (sent < count) {
    const int n = sendmmsg(mSocket, &msgs[sent], static_cast<unsigned>(count - sent), 0);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // The first remaining datagram cannot be sent: count it and go on.
    ++mSendErrors;
    ++failed;
    ++sent;
  }
  return count - failed;
}

int UdpSimTransport::ReceiveOne(uint8_t* buffer, size_t capacity, uint32_t* fromAddr) {
  DatagramAddresses addresses;
  const int n = Receive(buffer, capacity, &addresses);
  if (n >= 0) *fromAddr = addresses.from;
  return n;
}

int UdpSimTransport::Receive(uint8_t* buffer, size_t capacity, DatagramAddresses* addresses) {
  sockaddr_in from{};
  iovec iov{buffer, capacity};
  union {
    cmsghdr align;
    char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
  } control;
  msghdr msg{};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control.bytes;
  msg.msg_controllen = sizeof control.bytes;
  const ssize_t n = recvmsg(mSocket, &msg, MSG_DONTWAIT);
  if (n < 0) return -1;
  addresses->from = ntohl(from.sin_addr.s_addr);
  addresses->hasTo = false;
  if ((msg.msg_flags & MSG_CTRUNC) == 0) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO ||
          c->cmsg_len < CMSG_LEN(sizeof(in_pktinfo))) {
        continue;
      }
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      addresses->to = ntohl(info.ipi_addr.s_addr);   // the header's destination
      addresses->hasTo = true;
    }
  }
  return static_cast<int>(n);
}

}  // namespace vornsim
