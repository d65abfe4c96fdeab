#include "PosixNetPlatform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace vorn {

namespace {

bool SetIntOption(SocketHandle s, int option, int value) {
  return setsockopt(s, SOL_SOCKET, option, &value, sizeof value) == 0;
}

sockaddr_in MakeAddress(uint32_t addr, uint16_t port) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(addr);
  return sa;
}

}  // namespace

SocketHandle PosixNetPlatform::OpenUdpSocket() {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  return s < 0 ? kInvalidSocket : s;
}

bool PosixNetPlatform::SetRecvTimeout(SocketHandle s, int milliseconds) {
  // 0 would mean "wait for ever" here; callers pass at least 1.
  if (milliseconds < 0) return false;
  timeval tv;
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool PosixNetPlatform::SetRecvBufferSize(SocketHandle s, int bytes) {
  return SetIntOption(s, SO_RCVBUF, bytes);
}

int PosixNetPlatform::GetRecvBufferSize(SocketHandle s, int* bytes) {
  int value = 0;
  socklen_t len = sizeof value;
  if (getsockopt(s, SOL_SOCKET, SO_RCVBUF, &value, &len) != 0) {
    return errno != 0 ? errno : -1;
  }
  // The kernel doubles the granted size when it reports it.
  *bytes = value / 2;
  return 0;
}

bool PosixNetPlatform::SetBroadcast(SocketHandle s, bool on) {
  return SetIntOption(s, SO_BROADCAST, on ? 1 : 0);
}

bool PosixNetPlatform::SetSendBufferSize(SocketHandle s, int bytes) {
  return SetIntOption(s, SO_SNDBUF, bytes);
}

bool PosixNetPlatform::BindAny(SocketHandle s, uint16_t port) {
  sockaddr_in sa = MakeAddress(INADDR_ANY, port);
  return bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

int PosixNetPlatform::ReceiveFrom(SocketHandle s, uint8_t* buffer, int capacity,
                                  uint32_t* fromAddr) {
  if (capacity < 0) return -1;
  for (;;) {
    sockaddr_in from;
    std::memset(&from, 0, sizeof from);
    socklen_t fromLen = sizeof from;
    ssize_t n = recvfrom(s, buffer, static_cast<size_t>(capacity), 0,
                         reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    // A sender address we cannot read is reported as 0.0.0.0, which no
    // caller treats as the instrument.
    *fromAddr = (fromLen >= sizeof from && from.sin_family == AF_INET)
                    ? ntohl(from.sin_addr.s_addr)
                    : 0;
    return static_cast<int>(n);
  }
}

int PosixNetPlatform::SendTo(SocketHandle s, const uint8_t* data, int length, uint32_t addr,
                             uint16_t port) {
  if (length < 0) return -1;
  sockaddr_in sa = MakeAddress(addr, port);
  ssize_t n;
  do {
    n = sendto(s, data, static_cast<size_t>(length), 0, reinterpret_cast<const sockaddr*>(&sa),
               sizeof sa);
  } while (n < 0 && errno == EINTR);
  return static_cast<int>(n);
}

void PosixNetPlatform::Close(SocketHandle s) {
  if (s != kInvalidSocket) close(s);
}

bool PosixNetPlatform::ListInterfaceAddresses(std::vector<uint32_t>* out) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  out->clear();
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in sa;
    std::memcpy(&sa, it->ifa_addr, sizeof sa);
    out->push_back(ntohl(sa.sin_addr.s_addr));
  }
  freeifaddrs(list);
  return true;
}

long long PosixNetPlatform::ReceiveDrops(SocketHandle s) {
  if (s == kInvalidSocket) return -1;
  struct stat st;
  if (fstat(s, &st) != 0) return -1;
  const unsigned long long inode = static_cast<unsigned long long>(st.st_ino);
  FILE* f = std::fopen("/proc/net/udp", "r");
  if (f == nullptr) return -1;
  long long drops = -1;
  char line[512];
  // Skip the column titles.
  if (std::fgets(line, sizeof line, f) != nullptr) {
    while (std::fgets(line, sizeof line, f) != nullptr) {
      // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops
      unsigned long long lineInode = 0;
      unsigned long long lineDrops = 0;
      if (std::sscanf(line,
                      " %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %*s %*s %llu",
                      &lineInode, &lineDrops) == 2 &&
          lineInode == inode) {
        drops = static_cast<long long>(lineDrops);
        break;
      }
    }
  }
  std::fclose(f);
  return drops;
}

std::shared_ptr<NetPlatform> MakeSystemNetPlatform() {
  return std::make_shared<PosixNetPlatform>();
}

}  // namespace vorn
